// A packet capture of the test's own traffic: dumpcap on an interface with a capture filter
// (the test's own ports), bounded in time, and tshark to read it back. Capturing needs root,
// dumpcap and tshark; where one is missing the capture says so, for a skip.
#ifndef ZEB_TESTSUPPORT_CAPTURE_H
#define ZEB_TESTSUPPORT_CAPTURE_H

#include "files.h"
#include "process.h"

#include <memory>
#include <string>

namespace zebtest {

class Capture {
  public:
    // Starts capturing on iface what filter (a pcap filter) lets through, for at most
    // seconds, and waits until dumpcap is capturing.
    explicit Capture(const std::string& filter, const std::string& iface = "lo", int seconds = 120);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Why nothing is captured ("" while capturing).
    const std::string& Why() const { return why_; }
    // Ends the capture (once) and returns what `tshark -r CAPTURE tsharkArgs` prints.
    std::string Read(const std::string& tsharkArgs);

  private:
    TempDir dir_{"zebcapture"};
    std::unique_ptr<Process> dumpcap_;
    std::string why_;
};

} // namespace zebtest

#endif
