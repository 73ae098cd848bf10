// zebcli fileio --clients: four clients on one host, each with its own test file and
// directory, released together at every pass, on local files and through zebcli's own SMB and
// NFS clients against smbd and nfs-ganesha in namespaces of their own (skipped where they
// cannot run); a client's broken file fails that client alone; a client that hangs is ended
// after the bound; and zebcli merge of the clients' own results gives the same sums.
#include "files.h"
#include "servers.h"
#include "smb_server.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kClients = 4;

// Where the clients' test files are: a local directory, or a server's share or export.
struct Target {
    std::string url;  // of NAME.TST: the clients' files are NAME1.TST ... NAME4.TST
    fs::path backing; // the files as the server holds them
    std::vector<std::string> launcher;
};

class Clients : public ::testing::TestWithParam<const char*> {
  protected:
    static void TearDownTestSuite() { zebcli_test::EndServers(); }
    void SetUp() override {
        if (std::string(GetParam()) == "local") {
            target_ = Target{(local_.path() / "T.TST").string(), local_.path(), {}};
            return;
        }
        std::string whyNot;
        const std::optional<zebcli_test::Server> server = zebcli_test::Started(GetParam(), &whyNot);
        if (!server) {
            GTEST_SKIP() << whyNot;
        }
        target_ = Target{server->url, server->backing, server->launcher};
    }
    // The clients' test files are NAME1.TST ... of this test's own name: a file removed
    // behind the NFS server's back would stay in its cache.
    void Named(const std::string& name) {
        name_ = name;
        target_.url = target_.url.substr(0, target_.url.rfind('/') + 1) + name + ".TST";
    }
    fs::path ClientFile(int client) const {
        return target_.backing / (name_ + std::to_string(client) + ".TST");
    }
    fs::path ClientDirectory(int client) const {
        return scratch_.path() / "clients" / ("client-" + std::to_string(client));
    }
    std::vector<std::string> Command(const std::vector<std::string>& extra) const {
        std::vector<std::string> command = target_.launcher;
        command.insert(command.end(),
                       {ZEBCLI_PATH, "fileio", target_.url, "--clients", std::to_string(kClients),
                        "--clients-dir", (scratch_.path() / "clients").string(), "--json",
                        json_.string(), "--csv", (scratch_.path() / "all.csv").string()});
        command.insert(command.end(), extra.begin(), extra.end());
        return command;
    }
    zebtest::Outcome Run(const std::vector<std::string>& extra) const {
        zebtest::ProcessOptions options;
        options.env = {"PASSWD=" + zebtest::SmbServer::Password()};
        return zebtest::Run(Command(extra), options, 300000);
    }
    nlohmann::json Results() const { return nlohmann::json::parse(zebtest::ReadFile(json_)); }

    zebtest::TempDir local_{"zebcli-clients-local"};
    zebtest::Scratch scratch_;
    fs::path json_ = scratch_.path() / "all.json";
    Target target_;
    std::string name_ = "T";
};

// Every client's test file whole on the server, the sums of them all the sums of the clients,
// every client's first transfer after its release, each client's report.txt its own.
TEST_P(Clients, FourClientsReleasedTogetherEachWithItsOwnFile) {
    Named("R");
    const zebtest::Outcome run = Run({"--mode", "Random R & W", "--from", "4000", "--to", "32000",
                                      "--inc", "28000", "--iterations", "20", "--save"});
    ASSERT_TRUE(zebtest::ExitedWith(run, 0)) << run.errors;
    const nlohmann::json doc = Results();
    ASSERT_EQ(doc["clients"].size(), static_cast<std::size_t>(kClients));
    ASSERT_EQ(doc["all"].size(), 2u);
    EXPECT_EQ(doc["outcome"], "passed");
    EXPECT_TRUE(doc["failed_clients"].empty());
    for (std::size_t pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE("pass " + std::to_string(pass + 1));
        const nlohmann::json& all = doc["all"][pass];
        std::uint64_t operations = 0;
        std::uint64_t bytes = 0;
        std::uint64_t timed = 0;
        double lastDone = 0;
        for (const nlohmann::json& client : doc["clients"]) {
            const nlohmann::json& run = client["runs"][pass];
            EXPECT_EQ(run["outcome"], "passed") << client["name"];
            operations += run["operations"].get<std::uint64_t>();
            bytes += run["bytes"].get<std::uint64_t>();
            for (const auto& [kind, latency] : run["latency"].items()) {
                timed += latency["count"].get<std::uint64_t>();
            }
            // No transfer before its release, which came once every client had prepared
            // (within the engine clock's 20 microseconds of CLOCK_MONOTONIC).
            EXPECT_GE(run["release"]["first_transfer_seconds"].get<double>(), -20e-6)
                << client["name"];
            EXPECT_GE(run["release"]["wait_seconds"].get<double>(), 0) << client["name"];
            lastDone = std::max(lastDone, run["release"]["done_seconds"].get<double>());
        }
        EXPECT_EQ(all["clients"], kClients);
        EXPECT_EQ(all["clients_passed"], kClients);
        EXPECT_EQ(all["operations"].get<std::uint64_t>(), operations);
        EXPECT_EQ(all["operations"].get<std::uint64_t>(), kClients * 40u); // 20 x (R + W)
        EXPECT_EQ(all["bytes"].get<std::uint64_t>(), bytes);
        std::uint64_t merged = 0;
        for (const auto& [kind, latency] : all["latency"].items()) {
            merged += latency["count"].get<std::uint64_t>();
        }
        EXPECT_EQ(merged, timed);
        EXPECT_DOUBLE_EQ(all["all_running"]["last_done_seconds"].get<double>(), lastDone);
        EXPECT_EQ(all["spread"]["bytes_per_second"]["clients"], kClients);
    }
    std::vector<std::string> files;
    for (int client = 1; client <= kClients; ++client) {
        SCOPED_TRACE("client " + std::to_string(client));
        // Blocks written anew start their pairs at the block: good pairs throughout, at the
        // exact size; and each client's random blocks its own (seeded apart): 20 of the 32
        // places of a 32,000-byte block drawn alike by two clients would leave two files alike.
        const std::string& copy = files.emplace_back(zebtest::ReadFile(ClientFile(client)));
        ASSERT_EQ(copy.size(), zebtest::EngineTestFile().size());
        for (std::size_t i = 0; i < copy.size(); i += 2) {
            ASSERT_EQ(static_cast<unsigned char>(copy[i + 1]),
                      255 - static_cast<unsigned char>(copy[i]))
                << "pair at " << i;
        }
        for (std::size_t other = 0; other + 1 < files.size(); ++other) {
            EXPECT_FALSE(files[other] == copy) << "client " << other + 1;
        }
        // Its compatibility log its own, in its WINDIR.
        const zebtest::Outcome log =
            zebtest::Run({ZEBCLI_PATH, "log", (ClientDirectory(client) / "ctlogs" / "PLV.log")});
        EXPECT_NE(log.output.find(name_ + std::to_string(client) + ".TST, Buffer: 4000 To 32000"),
                  std::string::npos)
            << log.output << log.errors;
        const std::string report = zebtest::ReadFile(ClientDirectory(client) / "report.txt");
        EXPECT_NE(report.find(name_ + std::to_string(client) + ".TST, Buffer: 4000"),
                  std::string::npos)
            << report;
        EXPECT_EQ(report.find(name_ + std::to_string(client % kClients + 1) + ".TST"),
                  std::string::npos)
            << report;
    }
    // One CSV row per client and pass, and one per pass of them all, after the header.
    EXPECT_EQ(zebtest::Lines(zebtest::ReadFile(scratch_.path() / "all.csv")).size(),
              1u + kClients * 2 + 2);

    // The clients' own results merged apart: the same sums.
    std::vector<std::string> merge = {ZEBCLI_PATH, "merge", "--json",
                                      (scratch_.path() / "merged.json").string()};
    for (int client = 1; client <= kClients; ++client) {
        merge.push_back((ClientDirectory(client) / "results.json").string());
    }
    ASSERT_TRUE(zebtest::ExitedWith(zebtest::Run(merge), 0));
    const nlohmann::json merged =
        nlohmann::json::parse(zebtest::ReadFile(scratch_.path() / "merged.json"));
    for (std::size_t pass = 0; pass < 2; ++pass) {
        for (const char* field : {"operations", "bytes", "latency"}) {
            EXPECT_EQ(merged["all"][pass][field], doc["all"][pass][field]) << field;
        }
        EXPECT_EQ(merged["all"][pass]["all_running"], doc["all"][pass]["all_running"]);
    }
}

// Every client's test file exact on the server after a pass that reads; then a byte broken
// in client 3's file there fails client 3 alone.
TEST_P(Clients, BrokenFileFailsThatClientAlone) {
    Named("B");
    const std::vector<std::string> pass = {"--mode", "Sequential Read", "--from", "4000", "--to",
                                           "4000",   "--iterations",    "20"};
    ASSERT_TRUE(zebtest::ExitedWith(Run(pass), 0));
    for (int client = 1; client <= kClients; ++client) {
        EXPECT_TRUE(zebtest::ReadFile(ClientFile(client)) == zebtest::EngineTestFile()) << client;
    }
    {
        std::fstream file(ClientFile(3), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(4001);
        file.put('\x07');
    }
    std::vector<std::string> reported = pass;
    reported.insert(reported.end(), {"--report", (scratch_.path() / "all.html").string()});
    const zebtest::Outcome run = Run(reported);
    EXPECT_TRUE(zebtest::ExitedWith(run, 1));
    EXPECT_NE(run.errors.find("zebcli: client 3 failed: pass 1 failed"), std::string::npos)
        << run.errors;
    // The report's row of each client, and of the pass of them all.
    const std::string html = zebtest::ReadFile(scratch_.path() / "all.html");
    for (int client = 1; client <= kClients; ++client) {
        EXPECT_NE(html.find(client == 3
                                ? "<tr class=\"failed\"><td>client 3</td><td>FAILED: pass 1 "
                                  "failed</td>"
                                : "<tr class=\"passed\"><td>client " + std::to_string(client) +
                                      "</td><td>passed</td>"),
                  std::string::npos)
            << client << "\n"
            << html;
    }
    EXPECT_NE(html.find("<td>" + std::to_string(kClients - 1) + " of " + std::to_string(kClients) +
                        "</td>"),
              std::string::npos)
        << html;
    const nlohmann::json doc = Results();
    EXPECT_EQ(doc["failed_clients"], nlohmann::json::array({"client 3"}));
    EXPECT_EQ(doc["outcome"], "failed");
    for (int client = 1; client <= kClients; ++client) {
        EXPECT_EQ(doc["clients"][client - 1]["outcome"], client == 3 ? "failed" : "passed");
    }
    EXPECT_EQ(doc["all"][0]["clients_passed"], kClients - 1);
    // The engine rebuilt the file it found broken.
    EXPECT_TRUE(zebtest::ReadFile(ClientFile(3)) == zebtest::EngineTestFile());
}

INSTANTIATE_TEST_SUITE_P(Targets, Clients, ::testing::Values("local", "smb", "nfs"),
                         [](const auto& info) { return std::string(info.param); });

// The process whose working directory is directory (a client goes into its own).
pid_t ProcessIn(const fs::path& directory) {
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        std::error_code error;
        const fs::path cwd = fs::read_symlink(entry.path() / "cwd", error);
        if (!error && cwd == directory) {
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
        }
    }
    return -1;
}

// A client stopped in the middle of its passes is ended after the bound and named; the others
// go on to the end and pass.
TEST(ClientsLocal, HungClientIsEndedAfterTheBound) {
    zebtest::Scratch scratch;
    const fs::path clients = scratch.path() / "clients";
    zebtest::ProcessOptions options;
    options.errorsToOutput = true;
    zebtest::Process run({ZEBCLI_PATH, "fileio", (scratch.path() / "T.TST").string(), "--clients",
                          "3", "--clients-dir", clients.string(), "--client-timeout", "2", "--from",
                          "4000", "--to", "4000", "--iterations", "2000", "--repeat", "40",
                          "--json", (scratch.path() / "all.json").string()},
                         options);
    ASSERT_TRUE(run.ReadUntil("client 2: File I/O Passed", 60000)) << run.Output();
    const pid_t client = ProcessIn(fs::canonical(clients / "client-2"));
    ASSERT_GT(client, 0);
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(client, SIGSTOP), 0);
    const zebtest::Outcome outcome = run.Finish(120000);
    EXPECT_TRUE(zebtest::ExitedWith(outcome, 1));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    EXPECT_NE(outcome.output.find("zebcli: client 2 failed: ended by zebcli: no word within 2 s"),
              std::string::npos)
        << outcome.output;
    const nlohmann::json doc =
        nlohmann::json::parse(zebtest::ReadFile(scratch.path() / "all.json"));
    EXPECT_EQ(doc["failed_clients"], nlohmann::json::array({"client 2"}));
    for (const int other : {0, 2}) {
        EXPECT_EQ(doc["clients"][other]["outcome"], "passed");
        EXPECT_EQ(doc["clients"][other]["runs"].size(), 40u);
    }
    EXPECT_TRUE(doc["clients"][1]["runs"].empty());
    EXPECT_EQ(::kill(client, 0), -1); // ended with its process group
    std::printf("[ bound ] the run ended %.1f s after client 2 stopped\n", seconds);
}

// A client that cannot prepare (its test file a FIFO, which the engine cannot open) is
// reported and the others go on, or with --stop-on-failure are ended at their next release.
TEST(ClientsLocal, ClientThatCannotPrepareIsReportedAndTheOthersGoOnOrStop) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "--stop-on-failure" : "going on");
        zebtest::Scratch scratch;
        ASSERT_EQ(::mkfifo((scratch.path() / "T2.TST").c_str(), 0600), 0);
        std::vector<std::string> command = {ZEBCLI_PATH,
                                            "fileio",
                                            (scratch.path() / "T.TST").string(),
                                            "--clients",
                                            "3",
                                            "-q",
                                            "--from",
                                            "4000",
                                            "--to",
                                            "4016",
                                            "--inc",
                                            "8",
                                            "--json",
                                            (scratch.path() / "all.json").string()};
        if (stop) {
            command.emplace_back("--stop-on-failure");
        }
        const zebtest::Outcome run = zebtest::Run(command);
        EXPECT_TRUE(zebtest::ExitedWith(run, 1));
        EXPECT_NE(run.errors.find("client 2 failed: pass 1 test file not opened"),
                  std::string::npos)
            << run.errors;
        const nlohmann::json doc =
            nlohmann::json::parse(zebtest::ReadFile(scratch.path() / "all.json"));
        EXPECT_EQ(doc["failed_clients"], nlohmann::json::array({"client 2"}));
        for (const int other : {0, 2}) {
            EXPECT_EQ(doc["clients"][other]["outcome"], "passed");
            EXPECT_EQ(doc["clients"][other]["runs"].size(), stop ? 0u : 3u);
            EXPECT_EQ(doc["clients"][other].contains("stopped"), stop);
        }
    }
}

// Load points: the run at each number of clients, each with its own clients and sums.
TEST(ClientsLocal, LoadPointsRunEachNumberOfClients) {
    zebtest::Scratch scratch;
    const zebtest::Outcome run =
        zebtest::Run({ZEBCLI_PATH, "fileio", (scratch.path() / "T.TST").string(), "--clients",
                      "1,3", "-q", "--from", "4000", "--to", "4000", "--iterations", "50", "--json",
                      (scratch.path() / "load.json").string()});
    ASSERT_TRUE(zebtest::ExitedWith(run, 0)) << run.errors;
    const nlohmann::json doc =
        nlohmann::json::parse(zebtest::ReadFile(scratch.path() / "load.json"));
    ASSERT_EQ(doc["load_points"].size(), 2u);
    for (const auto& [index, clients] : {std::pair{0, 1}, {1, 3}}) {
        const nlohmann::json& point = doc["load_points"][index];
        EXPECT_EQ(point["client_count"], clients);
        EXPECT_EQ(point["clients"].size(), static_cast<std::size_t>(clients));
        EXPECT_EQ(point["all"][0]["operations"], clients * 50);
        EXPECT_GT(point["whole_bytes_per_second"].get<double>(), 0);
    }
    EXPECT_EQ(doc["outcome"], "passed");
}

} // namespace
