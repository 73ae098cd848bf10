// Console stations for tests.
#include "stations.h"

#include "netns.h"

#include <gtest/gtest.h>

namespace zebtest {

namespace {

// The station's environment: ours without any provider setting, then exactly its own.
ProcessOptions Options(const StationPlace& place) {
    ProcessOptions options;
    options.input = true;
    options.dropEnv = {"NETBIOS_"};
    options.env = place.env;
    options.env.push_back("NETBIOS_LANAS=" + place.lanas);
    if (!place.broadcast.empty()) {
        options.env.push_back("NETBIOS_BROADCAST=" + place.broadcast);
    }
    if (place.name_port != 0) {
        options.env.push_back("NETBIOS_NAME_PORT=" + std::to_string(place.name_port));
        options.env.push_back("NETBIOS_SESSION_PORT=" + std::to_string(place.name_port + 1));
    }
    return options;
}

std::vector<std::string> Command(const StationPlace& place, const std::string& tool,
                                 const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = place.prefix;
    argv.push_back(ToolPath(tool));
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

StationPlace Loopback(const std::string& address, std::uint16_t port) {
    return StationPlace{address, "127.255.255.255", port, {}, {}};
}

StationPlace InNamespace(const std::string& ns, const std::string& address) {
    return StationPlace{address + "/24", "", 0, InNamespace(ns), {}};
}

std::string ToolPath(const std::string& name) {
    return std::string(ZEB_TOOLS_DIR) + "/" + name;
}

NbStation::NbStation(const StationPlace& place)
    : process_(std::make_unique<Process>(Command(place, "nbstation"), Options(place))) {}

NbStation::~NbStation() {
    // A clean end first, so that the station releases its names. In a sanitizer build a
    // report from the station fails the test.
    process_->Send("quit");
    const std::string errors = process_->Finish(2000).errors;
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
}

std::string NbStation::Cmd(const std::string& line, int timeoutMs) {
    process_->Send(line);
    return process_->ReadLine(timeoutMs);
}

ZebStation::ZebStation(const StationPlace& place, const std::vector<std::string>& args) {
    dir_.Make({"ctlogs"});
    ProcessOptions options = Options(place);
    options.dropEnv.push_back("WINDIR=");
    options.env.push_back("WINDIR=" + dir_.path().string());
    options.cwd = dir_.path();
    started_ = std::chrono::steady_clock::now();
    process_ = std::make_unique<Process>(Command(place, "zebstation", args), options);
}

int ZebStation::Finish(int timeoutMs) {
    const Outcome outcome = process_->Finish(timeoutMs);
    ended_ = std::chrono::steady_clock::now();
    if (outcome.exited) {
        return outcome.code;
    }
    return outcome.code > 0 ? 128 + outcome.code : -1;
}

std::vector<std::string> ZebStation::Posts() const {
    std::vector<std::string> posts;
    for (const std::string& l : Lines()) {
        if (l.rfind("post ", 0) == 0) {
            posts.push_back(l.substr(5));
        }
    }
    return posts;
}

std::string ZebStation::Value(const std::string& key) const {
    for (const std::string& l : Lines()) {
        if (l.rfind(key + " ", 0) == 0) {
            return l.substr(key.size() + 1);
        }
    }
    return "<no " + key + ">";
}

} // namespace zebtest
