// The pieces of clients run together, without the engine: the release of forked clients
// (none goes before all have prepared, one that leaves does not hold the others, one that
// hangs is ended after the bound); the merge (the sums, the histograms added, the window in
// which all ran and the whole, the spread of the clients' rates, the time line, the failed
// clients), the same from the clients' JSON as zebcli merge reads it; the clients' test files.
#include "fleet/client.h"
#include "fleet/fork.h"
#include "fleet/merge.h"
#include "runjson.h"

#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zebcli;
using namespace zebcli::fleet;

// A pass of one client: released origin seconds after its intervals' zero, done seconds after
// its release, its intervals as (start from the zero, bytes), one operation per 10 bytes,
// latencies in ns.
struct PassPlan {
    double origin;
    double done;
    std::vector<std::pair<double, std::uint64_t>> intervals;
    std::vector<std::uint64_t> latencies;
    bool passed = true;
};

RunRecord PassOf(const PassPlan& plan) {
    RunRecord run;
    run.kind = "fileio";
    run.bufferSize = 4000;
    run.outcome = plan.passed ? Outcome::Passed : Outcome::Failed;
    run.releaseSeconds = plan.origin;
    run.doneSeconds = plan.done;
    run.firstTransferSeconds = 0.001;
    run.transferSeconds = plan.done;
    std::uint64_t bytes = 0;
    for (const auto& [start, b] : plan.intervals) {
        run.intervals.push_back({start, 1.0, b / 10, b, 0, 0, 0, 0, std::nullopt});
        bytes += b;
    }
    run.transferBytes = bytes;
    run.operations = bytes / 10;
    for (const std::uint64_t ns : plan.latencies) {
        run.latency[kReadLatency].Add(ns);
    }
    return run;
}

ClientResult ClientOf(const std::string& name, const std::vector<PassPlan>& passes) {
    ClientResult client;
    client.name = name;
    for (const PassPlan& plan : passes) {
        client.runs.push_back(PassOf(plan));
    }
    return client;
}

struct MergeCase {
    const char* name;
    std::vector<PassPlan> clients; // one pass each
    double firstDone, lastDone;
    double windowBytes;
    double minRate, maxRate, meanRate, stddevRate;
    std::vector<std::uint64_t> binBytes; // the time line of the whole, per second
    // and in each of its intervals the lowest and highest of the clients' rates
    std::vector<std::pair<double, double>> binRates;
};

TEST(FleetMerge, SumsHistogramsWindowAndSpread) {
    const MergeCase cases[] = {
        // Both released at their zero: the window ends at the first verdict (1 s), in which
        // both moved their first interval.
        {"released at the zero",
         {{0, 2, {{0, 60}, {1, 40}}, {1000, 3000}}, {0, 1, {{0, 80}}, {2000}}},
         1,
         2,
         60 + 80,
         50,
         80,
         65,
         15,
         {140, 40},
         {{60, 80}, {40, 40}}},
        // Released 0.25 s into the first interval: it counts from the release, so the window
        // (0.5 s) takes two thirds of it; the time line counts from each client's release.
        {"released inside an interval",
         {{0.25, 0.75, {{0, 90}}, {500}}, {0, 0.5, {{0, 50}}, {700, 900}}},
         0.5,
         0.75,
         90.0 * 0.5 / 0.75 + 50,
         100,
         120,
         110,
         10,
         {140},
         {{50, 90}}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ClientResult> clients;
        histogram::Histogram expected;
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < c.clients.size(); ++i) {
            clients.push_back(ClientOf("client " + std::to_string(i + 1), {c.clients[i]}));
            for (const std::uint64_t ns : c.clients[i].latencies) {
                expected.Add(ns);
            }
            bytes += *clients.back().runs[0].transferBytes;
        }
        // The same merge from the clients' JSON, as zebcli merge reads their results files.
        std::vector<ClientResult> read;
        for (const ClientResult& client : clients) {
            ClientResult back = client;
            back.runs.clear();
            for (const RunRecord& run : client.runs) {
                back.runs.push_back(RunFromJson(Json::parse(RunJson(run).dump())));
            }
            read.push_back(back);
        }
        for (const MergedResult& merged : {Merge(clients), Merge(read)}) {
            ASSERT_EQ(merged.passes.size(), 1u);
            const MergedPass& pass = merged.passes[0];
            EXPECT_EQ(pass.clients, c.clients.size());
            EXPECT_EQ(pass.clientsPassed, c.clients.size());
            EXPECT_EQ(pass.all.transferBytes, bytes);
            EXPECT_EQ(pass.all.operations, bytes / 10);
            EXPECT_TRUE(pass.all.Passed());
            const histogram::Histogram& h = pass.all.latency.at(kReadLatency);
            EXPECT_EQ(h.Buckets(), expected.Buckets());
            EXPECT_EQ(h.Min(), expected.Min());
            EXPECT_EQ(h.Max(), expected.Max());
            EXPECT_DOUBLE_EQ(h.Mean(), expected.Mean());
            EXPECT_DOUBLE_EQ(pass.firstDoneSeconds, c.firstDone);
            EXPECT_DOUBLE_EQ(pass.lastDoneSeconds, c.lastDone);
            EXPECT_NEAR(pass.windowBytes, c.windowBytes, 1e-9);
            EXPECT_NEAR(*pass.WindowBytesPerSecond(), c.windowBytes / c.firstDone, 1e-6);
            EXPECT_NEAR(*pass.all.BytesPerSecond(), static_cast<double>(bytes) / c.lastDone, 1e-6);
            EXPECT_EQ(pass.bytesPerSecond.count, c.clients.size());
            EXPECT_DOUBLE_EQ(pass.bytesPerSecond.min, c.minRate);
            EXPECT_DOUBLE_EQ(pass.bytesPerSecond.max, c.maxRate);
            EXPECT_DOUBLE_EQ(pass.bytesPerSecond.mean, c.meanRate);
            EXPECT_NEAR(pass.bytesPerSecond.stddev, c.stddevRate, 1e-9);
            std::vector<std::uint64_t> bins;
            std::vector<std::pair<double, double>> rates;
            for (const IntervalRecord& i : pass.all.intervals) {
                bins.push_back(i.bytes);
                rates.push_back(i.clientRates.value_or(std::pair(-1.0, -1.0)));
            }
            EXPECT_EQ(bins, c.binBytes);
            EXPECT_EQ(rates, c.binRates);
            EXPECT_TRUE(merged.FailedClients().empty());
        }
    }
}

// A client fails by its own pass, by how it ended, or by having run nothing; the others pass,
// and a pass of them all passes only when every client that ran it passed.
TEST(FleetMerge, FailedClientsAreNamedAndTheirPassesFailTheWhole) {
    const PassPlan good{0, 1, {{0, 10}}, {100}};
    PassPlan bad = good;
    bad.passed = false;
    ClientResult hung = ClientOf("client 3", {good});
    hung.ended = "ended by zebcli: no word within 3 s (running pass 2)";
    const MergedResult merged =
        Merge({ClientOf("client 1", {good, good}), ClientOf("client 2", {good, bad}), hung,
               ClientOf("client 4", {})});
    EXPECT_EQ(merged.FailedClients(),
              (std::vector<std::string>{"client 2", "client 3", "client 4"}));
    EXPECT_EQ(merged.clients[1].Failure(), "pass 2 failed");
    EXPECT_EQ(merged.clients[2].Failure(), hung.ended);
    EXPECT_EQ(merged.clients[3].Failure(), "no pass ran");
    ASSERT_EQ(merged.passes.size(), 2u);
    EXPECT_TRUE(merged.passes[0].all.Passed());
    EXPECT_EQ(merged.passes[0].clients, 3u);
    EXPECT_FALSE(merged.passes[1].all.Passed());
    EXPECT_EQ(merged.passes[1].clients, 2u);
    EXPECT_EQ(merged.passes[1].clientsPassed, 1u);
}

std::uint64_t NowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000U +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// Five forked clients prepare one after the other (client k after k x 40 ms) and note when
// they prepared and when they were released (one clock: one host); client 4 leaves without
// preparing, client 5 hangs while preparing. Every client released goes after the last one
// prepared, and after client 5 was ended at the bound; client 4 holds nobody.
TEST(FleetRelease, NoneGoesBeforeAllHavePreparedAndAHungOneIsEndedAtTheBound) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zebcli-release-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    ForkSettings settings;
    settings.clients = 5;
    settings.bound = std::chrono::milliseconds(1000);
    std::vector<std::string> lines;
    settings.line = [&](std::uint32_t client, const std::string& line) {
        lines.push_back(std::to_string(client) + ": " + line);
    };
    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t startedNs = NowNs();
    const std::vector<ClientEnd> ends =
        RunForked(settings, [&](std::uint32_t client, Release& release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40 * client));
            if (client == 4) {
                return 3;
            }
            if (client == 5) {
                std::this_thread::sleep_for(std::chrono::hours(1));
            }
            std::printf("preparing\n");
            const std::uint64_t prepared = NowNs();
            const bool go = release.Prepared(0);
            const std::uint64_t released = NowNs();
            release.Ended(0, true);
            std::ofstream(dir / std::to_string(client)) << prepared << " " << released << " " << go;
            return 0;
        });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(ends.size(), 5u);
    std::uint64_t lastPrepared = 0;
    std::uint64_t firstReleased = UINT64_MAX;
    for (std::uint32_t client = 1; client <= 3; ++client) {
        SCOPED_TRACE(client);
        EXPECT_TRUE(ends[client - 1].exited);
        EXPECT_EQ(ends[client - 1].status, 0);
        EXPECT_TRUE(ends[client - 1].ended.empty()) << ends[client - 1].ended;
        EXPECT_EQ(ends[client - 1].passesReleased, 1u);
        std::uint64_t prepared = 0;
        std::uint64_t released = 0;
        int go = 0;
        std::ifstream(dir / std::to_string(client)) >> prepared >> released >> go;
        EXPECT_EQ(go, 1);
        lastPrepared = std::max(lastPrepared, prepared);
        firstReleased = std::min(firstReleased, released);
    }
    EXPECT_GT(firstReleased, lastPrepared);
    EXPECT_GE(firstReleased - startedNs, 1'000'000'000u); // client 5's bound
    EXPECT_EQ(ends[3].status, 3);
    EXPECT_FALSE(ends[4].exited);
    EXPECT_EQ(ends[4].ended, "no word within 1 s (preparing pass 1)");
    EXPECT_LT(seconds, 10);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "1: preparing"), 1);
    std::filesystem::remove_all(dir);
}

TEST(FleetClient, EachClientHasItsOwnTestFile) {
    const struct {
        const char* path;
        std::uint32_t client;
        const char* own;
    } rows[] = {
        {"T.TST", 3, "T3.TST"},
        {"/srv/a.b/T", 12, "/srv/a.b/T12"},
        {"dir.x/T.TST", 1, "dir.x/T1.TST"},
        {"/srv/{client}/T-{client}.TST", 7, "/srv/7/T-7.TST"},
        {"smb://root@127.0.0.1/share/T.TST", 2, "smb://root@127.0.0.1/share/T2.TST"},
        {"nfs://127.0.0.1/zeb/T", 4, "nfs://127.0.0.1/zeb/T4"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ClientPath(row.path, row.client), row.own) << row.path;
    }
    EXPECT_NE(SeedOffset(1), SeedOffset(2));
    EXPECT_FALSE(ClientPathRefusal("/" + std::string(197, 'a') + ".T", {9}).empty());
    EXPECT_TRUE(ClientPathRefusal("/" + std::string(196, 'a') + ".T", {9}).empty());
}

} // namespace
