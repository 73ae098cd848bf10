// The capture of a test's own traffic.
#include "capture.h"

#include "netns.h"

#include <csignal>
#include <unistd.h>

namespace zebtest {

Capture::Capture(const std::string& filter, const std::string& iface, int seconds) {
    if (geteuid() != 0 || FindProgram("dumpcap").empty() || FindProgram("tshark").empty()) {
        why_ = "capturing on " + iface + " needs root, dumpcap and tshark";
        return;
    }
    dumpcap_ = std::make_unique<Process>(std::vector<std::string>{
        "dumpcap", "-q", "-i", iface, "-f", filter, "-a", "duration:" + std::to_string(seconds),
        "-w", (dir_ / "capture").string()});
    if (!WaitUntil([&] { return dumpcap_->Errors().find("Capturing on") != std::string::npos; },
                   10000, 20)) {
        why_ = "dumpcap did not start capturing: " + dumpcap_->Errors();
    }
}

Capture::~Capture() {
    if (dumpcap_) {
        dumpcap_->Signal(SIGINT);
        dumpcap_->Finish(10000);
    }
}

std::string Capture::Read(const std::string& tsharkArgs) {
    if (dumpcap_) {
        dumpcap_->Signal(SIGINT);
        dumpcap_->Finish(10000);
        dumpcap_.reset();
    }
    return Shell("tshark -r " + (dir_ / "capture").string() + " " + tsharkArgs + " 2>/dev/null")
        .text;
}

} // namespace zebtest
