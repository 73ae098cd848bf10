// Runs nbstation processes with explicit loopback (or namespace) settings and talks to them
// line by line, with a time limit on every answer.
#ifndef ZEB_NETBIOS_TESTS_STATIONHARNESS_H
#define ZEB_NETBIOS_TESTS_STATIONHARNESS_H

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct StationSettings {
    std::string lanas;           // NETBIOS_LANAS
    std::string broadcast;       // NETBIOS_BROADCAST ("" = derived from the binding)
    std::uint16_t name_port = 0; // 0 = the protocol's port
    std::uint16_t session_port = 0;
    std::vector<std::string> exec_prefix; // e.g. {"ip", "netns", "exec", "nbt_a"}
    std::vector<std::string> extra_env;   // more NAME=value settings
};

class Station {
  public:
    explicit Station(const StationSettings& settings);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Sends a command and returns its answer ("" on time-out or when the station died).
    std::string Cmd(const std::string& line, int timeout_ms = 30000);
    void Send(const std::string& line);
    std::string Read(int timeout_ms = 30000);
    // Everything the station wrote to standard error so far.
    std::string Errors() const;
    void Kill();
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::string errors_path_;
};

// A name port P and session port P+1 that are free on the test addresses.
std::uint16_t FreePortPair();
std::vector<std::string> Words(const std::string& line);

#endif
