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
    char dir[] = "/tmp/nbw-nmbd-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        return "mkdtemp failed";
    }
    dir_ = dir;
    if (Shell("cd " + dir_ + " && mkdir lock state cache pid private sock log").status != 0) {
        return "cannot make the directories in " + dir_;
    }
    std::string list;
    for (const std::string& i : interfaces) {
        list += (list.empty() ? "" : " ") + i;
    }
    conf_ = dir_ + "/smb.conf";
    std::ofstream conf(conf_);
    conf << "[global]\n"
         << "netbios name = ZEBWINS\n"
         << "workgroup = ZEBTEST\n"
         << "wins support = yes\n"
         << "interfaces = " << list << "\n"
         << "bind interfaces only = yes\n"
         << "local master = no\n"
         << "domain master = no\n"
         << "preferred master = no\n"
         << "os level = 0\n"
         << "dns proxy = no\n"
         << "load printers = no\n"
         << "lock directory = " << dir_ << "/lock\n"
         << "state directory = " << dir_ << "/state\n"
         << "cache directory = " << dir_ << "/cache\n"
         << "pid directory = " << dir_ << "/pid\n"
         << "private dir = " << dir_ << "/private\n"
         << "nmbd:socket dir = " << dir_ << "/sock\n"
         << "ncalrpc dir = " << dir_ << "/sock\n"
         << "log file = " << dir_ << "/log/nmbd.log\n"
         << "max log size = 0\n";
    conf.close();
    // Ends with the test process even if that dies; at most five minutes in any case.
    ProcessOptions options;
    options.outputFile = dir_ + "/log/stdout";
    options.errorsToOutput = true;
    options.endWithParent = true;
    nmbd_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", ns_, "timeout", "300", nmbd, "-F",
                                 "--no-process-group", "-s", conf_, "-l", dir_ + "/log", "-d", "2",
                                 "--debug-stdout"},
        options);
    for (int i = 0; i < 100; ++i) {
        ShellOutput ss = Shell("ip netns exec " + ns_ + " ss -H -uln 'sport = 137'");
        if (ss.text.find(address_ + ":137") != std::string::npos) {
            return "";
        }
        usleep(100000);
    }
    return "nmbd did not come up:\n" + Log();
}

void NmbdServer::Stop() {
    if (nmbd_) {
        nmbd_->Signal(SIGTERM); // timeout passes it on to nmbd
        nmbd_->Finish(5000);
        nmbd_.reset();
    }
    if (!dir_.empty()) {
        Shell("rm -rf " + dir_);
        dir_.clear();
    }
}

std::string NmbdServer::Lookup(const std::string& name) const {
    return Nmblookup("-U " + address_ + " --recursion " + name);
}

std::string NmbdServer::Nmblookup(const std::string& args) const {
    return Shell("ip netns exec " + ns_ + " timeout 10 nmblookup -s " + conf_ + " " + args).text;
}

std::string NmbdServer::Log() const {
    return Shell("tail -n 60 " + dir_ + "/log/stdout").text;
}

bool LookupFinds(const std::string& lookup, const std::string& address, const std::string& name) {
    return lookup.find(address + " " + name + "<00>") != std::string::npos;
}

} // namespace zebtest
