// zebcli as a user runs it: a file I/O sweep on a temporary test file, usage errors, a
// sender and a receiver as two processes on two loopback addresses, and the .deb package.
#include "files.h"
#include "process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using zebtest::Lines;
using zebtest::Outcome;
using zebtest::ReadFile;
using zebtest::TempDir;

// A program run in cwd with more environment settings.
zebtest::Process Start(const std::vector<std::string>& args, const fs::path& cwd,
                       const std::vector<std::string>& env = {}) {
    zebtest::ProcessOptions options;
    options.cwd = cwd;
    options.env = env;
    return zebtest::Process(args, options);
}

Outcome Zebcli(const std::vector<std::string>& args, const fs::path& cwd,
               const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {ZEBCLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return Start(argv, cwd, env).Finish(60000);
}

// The compatibility log goes to a directory of the test's own.
std::vector<std::string> LogEnvironment(const TempDir& dir) {
    fs::create_directories(dir.path() / "ctlogs");
    return {"WINDIR=" + dir.path().string()};
}

} // namespace

TEST(FileIoSweep, EveryPassIsALineAndTheSummaryRecordsItsRate) {
    TempDir dir;
    const std::string file = (dir.path() / "TEST.TST").string();
    const Outcome run =
        Zebcli({"fileio", file, "--from", "1024", "--to", "1040", "--inc", "8", "--iterations", "4",
                "--mode", "Random R & W", "--save", "--json", "sweep.json"},
               dir.path(), LogEnvironment(dir));
    ASSERT_EQ(run.Status(), 3) << run.output << run.errors;
    EXPECT_EQ(run.errors, "");

    // Three passes, each its heading and its verdict on lines of their own.
    std::vector<std::string> verdicts;
    std::vector<std::string> headings;
    for (const std::string& line : Lines(run.output)) {
        if (line.starts_with("File I/O ")) {
            verdicts.push_back(line);
        }
        if (line.starts_with("Test File: ")) {
            headings.push_back(line);
        }
    }
    EXPECT_EQ(verdicts, std::vector<std::string>(3, "File I/O Passed"));
    EXPECT_EQ(headings, (std::vector<std::string>{
                            "Test File: " + file + ", Buffer: 1024, I/O Mode: 5, Iteration: 4",
                            "Test File: " + file + ", Buffer: 1032, I/O Mode: 5, Iteration: 4",
                            "Test File: " + file + ", Buffer: 1040, I/O Mode: 5, Iteration: 4"}));
    EXPECT_EQ(fs::file_size(file), 16u * 65534u);
    // report.txt holds what the board showed.
    const std::string report = ReadFile(dir.path() / "report.txt");
    EXPECT_NE(report.find("Test File: " + file + ", Buffer: 1032, I/O Mode: 5, Iteration: 4\n"),
              std::string::npos);

    const std::string json = ReadFile(dir.path() / "sweep.json");
    EXPECT_FALSE(fs::exists(dir.path() / "sweep.json.tmp"));
    EXPECT_NE(json.find("\"command\": \"fileio\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"mode_index\": 5"), std::string::npos);
    const std::regex pass(
        R"("buffer_size": (\d+),\s*"start": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",\s*)"
        R"("elapsed_seconds": [0-9.e+-]+,\s*"outcome": "passed",\s*"engine_result": 0,\s*)"
        R"("result_code": 3,\s*"operations_per_second": [0-9.e+]+)");
    std::vector<std::string> sizes;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), pass);
         it != std::sregex_iterator(); ++it) {
        sizes.push_back((*it)[1]);
    }
    EXPECT_EQ(sizes, (std::vector<std::string>{"1024", "1032", "1040"})) << json;
    EXPECT_NE(json.find("\"result_code\": 3\n}"), std::string::npos);
}

TEST(FileIoSweep, AnUnopenableTestFileStopsTheSweepWithAFailure) {
    TempDir dir;
    const std::string file = (dir.path() / "missing" / "TEST.TST").string();
    const Outcome run =
        Zebcli({"fileio", file, "--json", "s.json"}, dir.path(), LogEnvironment(dir));
    EXPECT_EQ(run.Status(), 2) << run.output;
    EXPECT_NE(run.output.find("Can not open " + file + "\n"), std::string::npos) << run.output;
    // The engine's message box goes to standard error.
    EXPECT_NE(
        run.errors.find("Error: FILEIO: _open() fails, check file path. Program is terminated\n"),
        std::string::npos)
        << run.errors;
    // One pass only: the sweep stopped at the first size.
    const std::string json = ReadFile(dir.path() / "s.json");
    EXPECT_NE(json.find("\"outcome\": \"test file not opened\""), std::string::npos) << json;
    EXPECT_EQ(json.find("\"buffer_size\": 1032"), std::string::npos);
}

TEST(FileIoSweep, FromAboveToRunsNothingAndPasses) {
    TempDir dir;
    const Outcome run =
        Zebcli({"fileio", "T.TST", "--from", "4000", "--to", "3000", "--json", "s.json"},
               dir.path(), LogEnvironment(dir));
    EXPECT_EQ(run.Status(), 3);
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(fs::exists(dir.path() / "T.TST"));
    EXPECT_NE(ReadFile(dir.path() / "s.json").find("\"runs\": [],"), std::string::npos);
}

TEST(CommandLine, UsageErrorsExit64WithAMessageAndTouchNothing) {
    TempDir dir;
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{}, "zebcli: no command given (fileio, send or recv); see --help\n"},
        {{"fileio", "T.TST", "--inc", "0"},
         "zebcli: --inc '0': Please enter an integer between 2 and 32000.\n"},
        {{"send", "--size", "x"}, "zebcli: --size 'x': Please enter an integer.\n"},
        {{"recv", "--blocks", "4"}, "zebcli: unknown option '--blocks' for recv\n"},
    };
    for (const auto& [args, message] : rows) {
        const Outcome run = Zebcli(args, dir.path());
        EXPECT_EQ(run.Status(), 64);
        EXPECT_EQ(run.errors, message);
        EXPECT_EQ(run.output, "");
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CommandLine, HelpAndAnUnwritableSummary) {
    TempDir dir;
    const Outcome help = Zebcli({"--help"}, dir.path());
    EXPECT_EQ(help.Status(), 0);
    EXPECT_TRUE(help.output.starts_with("Usage: zebcli COMMAND [OPTIONS]\n")) << help.output;

    const Outcome run = Zebcli({"fileio", "T.TST", "--from", "4000", "--to", "3000", "--json",
                                (dir.path() / "no" / "s.json").string()},
                               dir.path());
    EXPECT_EQ(run.Status(), 1);
    EXPECT_NE(run.errors.find("zebcli: cannot create "), std::string::npos) << run.errors;
}

TEST(SessionPair, ReceiverAndSenderOnTwoLoopbackAddresses) {
    TempDir receiverDir;
    TempDir senderDir;
    const std::vector<std::string> common = {"NETBIOS_BROADCAST=127.255.255.255",
                                             "NETBIOS_NAME_PORT=44137",
                                             "NETBIOS_SESSION_PORT=44139"};
    std::vector<std::string> receiverEnv = LogEnvironment(receiverDir);
    receiverEnv.insert(receiverEnv.end(), common.begin(), common.end());
    receiverEnv.push_back("NETBIOS_LANAS=127.0.0.44");
    std::vector<std::string> senderEnv = LogEnvironment(senderDir);
    senderEnv.insert(senderEnv.end(), common.begin(), common.end());
    senderEnv.push_back("NETBIOS_LANAS=127.0.0.45");

    zebtest::Process receiver =
        Start({ZEBCLI_PATH, "recv", "--json", "r.json"}, receiverDir.path(), receiverEnv);
    // The receiver registers its name before the sender calls; the sender calls for 20 s.
    usleep(500 * 1000);
    const Outcome sender = Zebcli({"send", "--blocks", "5", "--size", "1000", "--json", "s.json"},
                                  senderDir.path(), senderEnv);
    const Outcome received = receiver.Finish(60000);

    ASSERT_EQ(sender.Status(), 3) << sender.output << sender.errors;
    ASSERT_EQ(received.Status(), 3) << received.output << received.errors;
    const std::vector<std::string> sent = Lines(sender.output);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent.front(), "Start transmission...");
    EXPECT_NE(sender.output.find("Sending 5 Blocks of 1000 Byte\n"), std::string::npos);
    EXPECT_TRUE(std::regex_match(
        sent.back(),
        std::regex(
            R"( *\d+\.\d KB/s 5000 bytes transferedRead REPORT.TXT if checked Save Results)")))
        << sent.back();

    const std::vector<std::string> lines = Lines(received.output);
    EXPECT_EQ(lines.front(), "Start receive process...");
    EXPECT_EQ(lines.back(), "Receive complete!");
    for (int block = 1; block <= 5; ++block) {
        char line[64];
        std::snprintf(line, sizeof line, "Received block %3d Size = 1000 Bytes\n", block);
        EXPECT_NE(received.output.find(line), std::string::npos) << received.output;
    }
    EXPECT_NE(received.output.find(
                  "Session closed by Sender\nRECEIVE SESSION END \n5000 Bytes received.\n"),
              std::string::npos)
        << received.output;

    const std::string sentJson = ReadFile(senderDir.path() / "s.json");
    EXPECT_NE(sentJson.find("\"outcome\": \"sent\""), std::string::npos) << sentJson;
    EXPECT_NE(sentJson.find("5000 bytes transfered\""), std::string::npos) << sentJson;
    const std::string receivedJson = ReadFile(receiverDir.path() / "r.json");
    EXPECT_NE(receivedJson.find("\"outcome\": \"completed\""), std::string::npos) << receivedJson;
}
