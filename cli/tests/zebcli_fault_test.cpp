// zebcli's file I/O stress through its own SMB and NFS clients while the server fails under a
// pass: killed, frozen for longer than the bound and restarted, each during a pass that reads,
// one that writes and one that does both; and its test file cut to nothing or a byte of it
// broken by another writer on the server. Every row: the pass under the fault failed, zebcli
// exits 1, its JSON results are whole, and the pass's verdict comes within the bound after
// the fault. A pass counts only the bytes it moved, and its failed transfers; after a restart,
// the next pass of the same run passes on its own merits. A server frozen for 2 s and let go
// is a stall the pass lives through: it passes, and its latency and time line show the stall.
// The SMB and NFS rows run side by side.
#include "files.h"
#include "servers.h"
#include "smb_server.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using zebcli_test::Server;

// Pause: the server frozen for kPauseMs and let go again, a stall the pass must live through.
enum class Fault { Kill, Stop, Restart, Truncate, BreakByte, Pause };

struct Row {
    Fault fault;
    const char* mode;
};

const Row kRows[] = {
    {Fault::Kill, "Sequential Read"},      {Fault::Kill, "Random Write"},
    {Fault::Kill, "Random R & W"},         {Fault::Stop, "Sequential Read"},
    {Fault::Stop, "Random Write"},         {Fault::Stop, "Random R & W"},
    {Fault::Restart, "Sequential Read"},   {Fault::Restart, "Random Write"},
    {Fault::Restart, "Random R & W"},      {Fault::Truncate, "Sequential Read"},
    {Fault::BreakByte, "Sequential Read"}, {Fault::Pause, "Sequential Read"},
};

// Each pass is long enough (several seconds here) for the fault to land well inside it.
constexpr unsigned kBlock = 4000;
constexpr unsigned kIterations = 32000;
constexpr int kFaultAfterMs = 300; // after the pass's heading
// The README's bound for a pass whose server stops answering.
constexpr double kBoundSeconds = 20.0;
// The stall, and the least of it that the results must show.
constexpr int kPauseMs = 2000;
constexpr double kStallNs = 1.5e9;

const char* FaultName(Fault fault) {
    switch (fault) {
    case Fault::Kill:
        return "killed";
    case Fault::Stop:
        return "stopped";
    case Fault::Restart:
        return "restarted";
    case Fault::Truncate:
        return "file cut";
    case Fault::BreakByte:
        return "byte broken";
    case Fault::Pause:
        return "paused for 2 s";
    }
    return "?";
}

struct RowResult {
    std::string name;
    std::string seen;                  // how it ended, for the record
    std::vector<std::string> problems; // empty when the row holds
};

std::string Ending(const zebtest::Outcome& end) {
    if (end.exited) {
        return "exit " + std::to_string(end.code);
    }
    return end.code > 0 ? "signal " + std::to_string(end.code) : "no end";
}

// A pass that lived through the stall: it passed, its slowest read took the stall, and its time
// line shows it, as an interval without an operation or with the slow one. With
// ZEB_KEEP_STALL_JSON=PREFIX the results are kept as PREFIX-smb.json (and -nfs).
void CheckStall(const nlohmann::json& results, const fs::path& json, const zebtest::Outcome& end,
                RowResult& r) {
    const nlohmann::json& pass = results["runs"][0];
    if (!end.exited || end.code != 0 || pass.value("outcome", "") != "passed") {
        r.problems.push_back(Ending(end) + ", the pass: " + pass.value("outcome", "(none)"));
    }
    const double slowest = pass["latency"]["reads"].value("max_ns", 0.0);
    r.seen += ", slowest read " + std::to_string(slowest / 1e9) + " s";
    bool shown = false;
    for (const auto& interval : pass["intervals"]) {
        if (interval.value("operations", 1) == 0 || interval.value("max_ns", 0.0) >= kStallNs) {
            shown = true;
            r.seen += ", interval at " + interval["start_seconds"].dump() +
                      " s: " + interval["operations"].dump() + " operations, max " +
                      interval["max_ns"].dump() + " ns";
        }
    }
    if (slowest < kStallNs) {
        r.problems.push_back("the stall is not in the latency: " + pass["latency"].dump());
    }
    if (!shown) {
        r.problems.push_back("no interval shows the stall: " + pass["intervals"].dump());
    }
    if (const char* keep = std::getenv("ZEB_KEEP_STALL_JSON"); keep != nullptr && *keep != 0) {
        fs::copy_file(json, std::string(keep) + "-" + r.name.substr(0, 3) + ".json",
                      fs::copy_options::overwrite_existing);
    }
}

// One row against the server: the pass, the fault in its middle, and what zebcli made of it.
RowResult RunRow(const Server& server, const Row& row, const fs::path& json) {
    RowResult r{
        server.backend + ": server " + FaultName(row.fault) + " during " + row.mode, "", {}};
    const fs::path copy = server.backing / "T.TST";
    zebtest::WriteFile(copy, zebtest::EngineTestFile()); // a good test file to begin with
    fs::remove(json);
    // After a restart a second pass, of another size, follows in the same run.
    const bool second = row.fault == Fault::Restart;
    std::vector<std::string> command = server.launcher;
    command.insert(command.end(),
                   {ZEBCLI_PATH, "fileio", server.url, "--mode", row.mode, "--from",
                    std::to_string(kBlock), "--to", std::to_string(second ? kBlock + 2000 : kBlock),
                    "--inc", "2000", "--iterations", std::to_string(kIterations), "--json",
                    json.string()});
    zebtest::Process run(command,
                         zebtest::JoinedOutput({"PASSWD=" + zebtest::SmbServer::Password()}));
    if (!run.ReadUntil("Test File:", 60000)) {
        r.problems.push_back("no pass began: " + run.Finish(10000).output);
        return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kFaultAfterMs));
    const Clock::time_point fault = Clock::now();
    std::string why;
    switch (row.fault) {
    case Fault::Kill:
        server.kill();
        break;
    case Fault::Stop:
        server.stop();
        break;
    case Fault::Restart:
        // The client is held while the server goes and comes back, so that its next request
        // meets the new server: the pass loses its connection, the next pass finds the server.
        kill(run.Pid(), SIGSTOP);
        if (!server.restart(&why)) {
            r.problems.push_back("the server did not come back: " + why);
        }
        kill(run.Pid(), SIGCONT);
        break;
    case Fault::Truncate:
        fs::resize_file(copy, 0);
        break;
    case Fault::BreakByte: {
        std::fstream file(copy, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(300001);
        file.put('\x07');
        break;
    }
    case Fault::Pause:
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
        server.resume();
        break;
    }
    // The first verdict is the pass under the fault's. A stopped server stays frozen until the
    // pass has ended or the bound (with a margin) is past: the client cannot tell the two apart.
    // A pass that lives through its stall runs to its end, as long as this machine takes.
    const bool lives = row.fault == Fault::Pause;
    const bool verdict =
        run.ReadUntil("File I/O ", lives ? 120000 : static_cast<int>(kBoundSeconds * 1000) + 10000);
    const double seconds = std::chrono::duration<double>(Clock::now() - fault).count();
    if (row.fault == Fault::Stop) {
        server.resume();
    }
    const zebtest::Outcome end = run.Finish(120000);
    if (row.fault == Fault::Kill && !server.restart(&why)) {
        r.problems.push_back("the server did not come back for the next row: " + why);
    }

    char timing[64];
    std::snprintf(timing, sizeof timing, "verdict %.1f s after the fault", seconds);
    r.seen = Ending(end) + (verdict ? std::string(", ") + timing : ", no verdict");
    if (row.fault != Fault::Pause && (!end.exited || end.code != 1)) {
        r.problems.push_back(Ending(end) + " instead of exit 1");
    }
    if (!verdict || (!lives && seconds >= kBoundSeconds)) {
        r.problems.push_back(std::string(verdict ? timing : "no verdict") + ", bound " +
                             std::to_string(static_cast<int>(kBoundSeconds)) + " s");
    }
    nlohmann::json results;
    try {
        results = nlohmann::json::parse(zebtest::ReadFile(json));
    } catch (const nlohmann::json::exception& e) {
        r.problems.push_back(std::string("the results are not whole: ") + e.what());
        return r;
    }
    const nlohmann::json& runs = results["runs"];
    if (!runs.is_array() || runs.empty()) {
        r.problems.push_back("no pass in the results: " + results.dump());
        return r;
    }
    const nlohmann::json& pass = runs[0];
    r.seen += ", outcome " + pass.value("outcome", std::string("(none)"));
    if (row.fault == Fault::Pause) {
        CheckStall(results, json, end, r);
        return r;
    }
    if (pass.value("outcome", "") != "failed") {
        r.problems.push_back("the pass under the fault: " + pass.dump());
    }
    // Every fault but the broken byte keeps bytes from moving: they are not counted, and the
    // transfers that failed are.
    if (row.fault != Fault::BreakByte) {
        const std::uint64_t asked =
            std::uint64_t{kIterations} * kBlock *
            (std::string(row.mode).find("R & W") != std::string::npos ? 2 : 1);
        const std::uint64_t bytes = pass.value("bytes", asked);
        const std::uint64_t failed = pass.value("failed_operations", std::uint64_t{0});
        r.seen += ", " + std::to_string(bytes) + " of " + std::to_string(asked) + " bytes, " +
                  (pass.contains("failed_operations") ? std::to_string(failed) : "no") +
                  " failed operations";
        if (bytes >= asked || failed == 0) {
            r.problems.push_back("counted as moved: " + pass.dump());
        }
    }
    if (second) {
        const std::string next =
            runs.size() > 1 ? runs[1].value("outcome", std::string("(none)")) : "(not run)";
        r.seen += ", next pass " + next;
        if (next != "passed") {
            r.problems.push_back("the pass after the restart: " +
                                 (runs.size() > 1 ? runs[1].dump() : std::string("not run")));
        }
    }
    if (!r.problems.empty()) {
        r.problems.push_back(
            "zebcli's output ends: " +
            end.output.substr(end.output.size() > 2000 ? end.output.size() - 2000 : 0));
    }
    return r;
}

// Every row against one backend's server, one after the other.
std::vector<RowResult> RunRows(const std::string& backend, std::string* whyNot) {
    std::vector<RowResult> results;
    const std::optional<Server> server = zebcli_test::Started(backend, whyNot);
    if (!server) {
        return results;
    }
    const fs::path json = fs::temp_directory_path() /
                          ("zebcli-fault-" + std::to_string(getpid()) + "-" + backend + ".json");
    for (const Row& row : kRows) {
        results.push_back(RunRow(*server, row, json));
    }
    fs::remove(json);
    return results;
}

TEST(FaultMatrix, EveryFaultFailsItsPassWithWholeResultsWithinTheBound) {
    const std::vector<std::string> backends = {"smb", "nfs"};
    std::vector<std::vector<RowResult>> results(backends.size());
    std::vector<std::string> whyNot(backends.size());
    {
        std::vector<std::thread> lanes;
        for (std::size_t i = 0; i < backends.size(); ++i) {
            lanes.emplace_back([&, i] { results[i] = RunRows(backends[i], &whyNot[i]); });
        }
        for (std::thread& lane : lanes) {
            lane.join();
        }
    }
    zebcli_test::EndServers();
    bool ran = false;
    for (std::size_t i = 0; i < backends.size(); ++i) {
        if (results[i].empty()) {
            std::printf("[ %s ] not run: %s\n", backends[i].c_str(), whyNot[i].c_str());
        }
        for (const RowResult& row : results[i]) {
            ran = true;
            std::printf("[ %s ] %s\n", row.name.c_str(), row.seen.c_str());
            std::string problems;
            for (const std::string& problem : row.problems) {
                problems += "\n  " + problem;
            }
            EXPECT_TRUE(row.problems.empty()) << row.name << ":" << problems;
        }
    }
    if (!ran) {
        GTEST_SKIP() << "no server: " << whyNot[0] << "; " << whyNot[1];
    }
}

} // namespace
