// The console stations of tools/ run by tests, each with explicit provider settings, so that
// nothing can fall back to the host's interfaces: nbstation (the provider alone, driven by
// commands on its standard input) and zebstation (one station of the session stress with the
// real engine, in a scratch directory of its own).
#ifndef ZEB_TESTSUPPORT_STATIONS_H
#define ZEB_TESTSUPPORT_STATIONS_H

#include "files.h"
#include "process.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zebtest {

// Where a station runs: its address on the test LAN and, for namespaces, how to enter it.
struct StationPlace {
    std::string lanas;               // NETBIOS_LANAS
    std::string broadcast;           // NETBIOS_BROADCAST ("" = from the binding)
    std::uint16_t name_port = 0;     // 0 = the protocol's ports; else sessions on name_port + 1
    std::vector<std::string> prefix; // e.g. InNamespace("ns")
    std::vector<std::string> env;    // more settings, e.g. "NETBIOS_WINS=127.0.0.9"
};

// A station on a loopback address with the loopback broadcast and ports of its own.
StationPlace Loopback(const std::string& address, std::uint16_t port);
// A station inside namespace ns: the protocol's own ports, the broadcast of the /24 link.
StationPlace InNamespace(const std::string& ns, const std::string& address);

// The path of a program of tools/ in the build tree.
std::string ToolPath(const std::string& name);

// nbstation: a command line, then its answer line.
class NbStation {
  public:
    explicit NbStation(const StationPlace& place);
    ~NbStation();
    NbStation(const NbStation&) = delete;
    NbStation& operator=(const NbStation&) = delete;

    // Sends a command and returns its answer ("" on time-out or when the station died).
    std::string Cmd(const std::string& line, int timeoutMs = 30000);
    void Send(const std::string& line) { process_->Send(line); }
    std::string Read(int timeoutMs = 30000) { return process_->ReadLine(timeoutMs); }
    std::string Errors() const { return process_->Errors(); }
    void Kill() { process_->Kill(); }
    pid_t Pid() const { return process_->Pid(); }

  private:
    std::unique_ptr<Process> process_;
};

// zebstation: prints every text posted to the board ("post TEXT"), then "result N" and
// "summary TEXT", and exits with the engine's result code.
class ZebStation {
  public:
    ZebStation(const StationPlace& place, const std::vector<std::string>& args);
    ZebStation(const ZebStation&) = delete;
    ZebStation& operator=(const ZebStation&) = delete;

    std::string ReadLine(int timeoutMs = 60000) { return process_->ReadLine(timeoutMs); }
    bool WaitFor(const std::string& line, int timeoutMs = 30000) {
        return process_->WaitForLine(line, timeoutMs);
    }
    // Closes the station's input (which ends a --hold), reads all output and returns the exit
    // status (128 + signal when killed, -1 when killed at the time limit).
    int Finish(int timeoutMs = 120000);
    void CloseInput() { process_->CloseInput(); }

    pid_t Pid() const { return process_->Pid(); }
    double Seconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }
    std::vector<std::string> Lines() const { return zebtest::Lines(process_->Output()); }
    // The texts posted to the board, in order (line ends shown as \n).
    std::vector<std::string> Posts() const;
    // The value of the first "key value" line.
    std::string Value(const std::string& key) const;
    std::filesystem::path Report() const { return dir_ / "report.txt"; }
    std::filesystem::path Log() const { return dir_ / "ctlogs" / "PLV.log"; }

  private:
    TempDir dir_{"zebstation"};
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point ended_;
    std::unique_ptr<Process> process_;
};

} // namespace zebtest

#endif
