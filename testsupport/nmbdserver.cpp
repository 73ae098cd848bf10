// nmbd for the name server tests.
#include "nmbdserver.h"
#include "netns.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace zebtest {

std::string NmbdUnavailable() {
    if (FindProgram("nmbd").empty() || FindProgram("nmblookup").empty()) {
        return "nmbd or nmblookup not installed (Debian: samba, samba-common-bin; "
               "scripts/deps.sh installs them); name server test skipped";
    }
    if (std::string why = NamespacesUnavailable(); !why.empty()) {
        return "nmbd runs in a network namespace of the test's own: " + why;
    }
    return "";
}

NmbdServer::~NmbdServer() {
    Stop();
}

std::string NmbdServer::Start(const std::string& ns, const std::vector<std::string>& interfaces) {
    std::string nmbd = FindProgram("nmbd");
    if (nmbd.empty() || interfaces.empty()) {
        return "no nmbd";
    }
    ns_ = ns;
    address_ = interfaces[0].substr(0, interfaces[0].find('/'));
    dir_ = std::make_unique<TempDir>("nbw-nmbd");
    dir_->Make({"lock", "state", "cache", "pid", "private", "sock", "log"});
    const std::string d = dir_->path().string();
    std::string list;
    for (const std::string& i : interfaces) {
        list += (list.empty() ? "" : " ") + i;
    }
    conf_ = d + "/smb.conf";
    std::ofstream conf(conf_);
    conf << "[global]\nnetbios name = ZEBWINS\nworkgroup = ZEBTEST\nwins support = yes\n"
         << "interfaces = " << list << "\nbind interfaces only = yes\n"
         << "local master = no\ndomain master = no\npreferred master = no\nos level = 0\n"
         << "dns proxy = no\nload printers = no\n";
    for (const char* dir : {"lock", "state", "cache", "pid"}) {
        conf << dir << " directory = " << d << "/" << dir << "\n";
    }
    conf << "private dir = " << d << "/private\nnmbd:socket dir = " << d << "/sock\n"
         << "ncalrpc dir = " << d << "/sock\nlog file = " << d << "/log/nmbd.log\n"
         << "max log size = 0\n";
    conf.close();
    // Ends with the test process even if that dies; at most five minutes in any case.
    ProcessOptions options;
    options.outputFile = d + "/log/stdout";
    options.errorsToOutput = true;
    options.endWithParent = true;
    nmbd_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", ns_, "timeout", "300", nmbd, "-F",
                                 "--no-process-group", "-s", conf_, "-l", d + "/log", "-d", "2",
                                 "--debug-stdout"},
        options);
    if (WaitForListener(ns_, "-uln 'sport = 137'", address_ + ":137", 10000)) {
        return "";
    }
    return "nmbd did not come up:\n" + Log();
}

void NmbdServer::Stop() {
    if (nmbd_) {
        nmbd_->Signal(SIGTERM); // timeout passes it on to nmbd
        nmbd_->Finish(5000);
        nmbd_.reset();
    }
    dir_.reset();
}

std::string NmbdServer::Lookup(const std::string& name) const {
    return Nmblookup("-U " + address_ + " --recursion " + name);
}

std::string NmbdServer::Nmblookup(const std::string& args) const {
    return Shell("ip netns exec " + ns_ + " timeout 10 nmblookup -s " + conf_ + " " + args).text;
}

std::string NmbdServer::Log() const {
    return dir_ ? Shell("tail -n 60 " + (*dir_ / "log/stdout").string()).text : "";
}

bool LookupFinds(const std::string& lookup, const std::string& address, const std::string& name) {
    return lookup.find(address + " " + name + "<00>") != std::string::npos;
}

} // namespace zebtest
