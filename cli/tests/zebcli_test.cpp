// The runner's command line, its reading of the engine's texts and the log decoder.
#include "compatlogreader.h"
#include "options.h"
#include "runner.h"
#include "summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zebcli;

namespace {

ParseResult Parse(std::vector<std::string_view> args) {
    return ParseArguments(args);
}

} // namespace

TEST(Arguments, FileIoTakesTheDialogDefaults) {
    const ParseResult result = Parse({"fileio", "/tmp/x.tst"});
    ASSERT_TRUE(result.run) << result.message;
    const Options& o = result.options;
    EXPECT_EQ(o.command, Command::FileIo);
    EXPECT_EQ(o.path, "/tmp/x.tst");
    EXPECT_EQ(o.fromSize, 1024u);
    EXPECT_EQ(o.toSize, 2048u);
    EXPECT_EQ(o.sizeIncrement, 8u);
    EXPECT_EQ(o.iteration, 10u);
    EXPECT_EQ(o.modeText, "Overlay Write");
    EXPECT_EQ(o.ioMode, 7);
    EXPECT_FALSE(o.save);
    const ParseResult send = Parse({"send"});
    EXPECT_EQ(send.options.blocks, 1000);
    EXPECT_EQ(send.options.bufferSize, 65535u);
}

// Both spellings of a value, "--" before an odd path, the mode by name in any case or by
// index; and every refusal with its exit status and message.
TEST(Arguments, SyntaxRangesAndUsageErrors) {
    struct Row {
        std::vector<std::string_view> args;
        int status;          // -1: runs
        std::string message; // the start of the message
    };
    const std::string longest(kMaxPathBytes, 'p');
    const std::string tooLong(kMaxPathBytes + 1, 'p');
    const std::vector<Row> rows = {
        {{"fileio", "f", "--from=4096", "--to", "8192", "--mode=3"}, -1, ""},
        {{"fileio", "--from", "2", "--", "--odd"}, -1, ""},
        {{"fileio", "f", "--mode", "sequential read", "-q"}, -1, ""},
        {{"send", "--blocks=32000", "--size", "1", "--json", "s.json", "--csv", "s.csv"}, -1, ""},
        {{"log", "--json"}, -1, ""},
        {{"--version"}, 0, "zebcli 1.0 (ZEB LAN stress kit)\n"},
        {{"fileio", "f", "--from", "0", "--help"}, 0, "file I/O stress on the test file PATH"},
        {{}, 64, "no command given (fileio, send, recv or log)"},
        {{"copy"}, 64, "unknown command 'copy' (fileio, send, recv or log)"},
        {{"fileio"}, 64, "PATH is required"},
        {{"fileio", ""}, 64, "the test file's path is empty"},
        {{"fileio", tooLong}, 64, "the test file's path is longer than 200 bytes"},
        {{"fileio", "f", "--blocks", "4"}, 64, "unknown argument '--blocks' for fileio"},
        {{"recv", "extra"}, 64, "unknown argument 'extra' for recv"},
        {{"fileio", "f", "--from", " \t+1 ", "--from", "0"}, 64, "--from: At Most 1"},
        {{"fileio", "f", "--from", "0"},
         64,
         "--from '0': Please enter an integer between 1 and 65535."},
        {{"fileio", "f", "--to", "32001"},
         64,
         "--to '32001': Please enter an integer between 2 and 32000."},
        {{"fileio", "f", "--inc=8x"}, 64, "--inc '8x': Please enter an integer."},
        {{"fileio", "f", "--iterations", "99999999999999999999"},
         64,
         "--iterations '99999999999999999999': Please enter an integer between 2 and 32000."},
        {{"send", "--blocks", "-1"},
         64,
         "--blocks '-1': Please enter an integer between 1 and 32000."},
        {{"send", "--size", "65536"},
         64,
         "--size '65536': Please enter an integer between 1 and 65535."},
        {{"fileio", "f", "--mode", "Sequential Read and W"},
         64,
         "--mode 'Sequential Read and W': Please enter no more than 20 characters."},
        {{"fileio", "f", "--mode", "9"},
         64,
         "--mode '9': not an I/O mode; give one of 0 Sequential Read, 1 Sequential Write"},
        {{"fileio", "f", "--cache", "none"}, 64, "--cache 'none': plain, direct or drop"},
        {{"recv", "--json="}, 64, "--json: 1 required FILE missing"},
        {{"fileio", "smb://u:pw@nas/s/T.TST"},
         64,
         "an argument holds an URL with a password (user:password@), which is never taken"},
        // A port, or a colon past the server, is no password.
        {{"fileio", "smb://u@nas:445/s/a:b@c"}, -1, ""},
    };
    for (const Row& row : rows) {
        const ParseResult result = Parse(row.args);
        const std::string name = row.args.empty() ? "(none)" : std::string(row.args.back());
        EXPECT_EQ(result.run, row.status < 0) << name << ": " << result.message;
        if (row.status >= 0) {
            EXPECT_EQ(result.exitStatus, row.status) << name;
            EXPECT_TRUE(result.message.starts_with(row.message)) << name << ": " << result.message;
        }
    }
    EXPECT_EQ(Parse({"fileio", "f", "--from=4096"}).options.fromSize, 4096u);
    EXPECT_EQ(Parse({"fileio", "--", "--odd"}).options.path, "--odd");
    EXPECT_EQ(Parse({"fileio", "f", "--mode=3"}).options.modeText, "Random Read");
    EXPECT_EQ(Parse({"fileio", "f", "--mode", "overlay r & w"}).options.ioMode, 8);
    EXPECT_TRUE(Parse({"fileio", longest}).run);
}

TEST(Results, TargetOfTheTestFile) {
    struct Row {
        std::string path, cache, backend, server, targetCache;
    };
    for (const Row& row : std::vector<Row>{
             {"/mnt/t.tst", "drop", "posix", "", "drop"},
             {"smb://user@files.example:445/share/t.tst", "plain", "smb", "files.example", "none"},
             {"nfs://192.0.2.7/export/t.tst", "plain", "nfs", "192.0.2.7", "none"},
             {"SMB://[2001:db8::7]:445/share/t.tst", "plain", "smb", "2001:db8::7", "none"}}) {
        Options options;
        options.path = row.path;
        options.cacheText = row.cache;
        const TestTarget target = DescribeTarget(options);
        EXPECT_EQ(target.backend, row.backend);
        EXPECT_EQ(target.server.value_or(""), row.server);
        EXPECT_EQ(target.cache, row.targetCache);
    }
    // Texts are bytes: raw pattern bytes (not UTF-8) read as Latin-1, as the board shows them.
    EXPECT_EQ(BoardUtf8("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(BoardUtf8("\xdf\x20\xde"), "\xc3\x9f \xc3\x9e");
}

// A pass is judged by the failures posted during it: the engine's verdict stays "failed" for
// every pass after the first failure of the process.
TEST(EngineTexts, FileIoOutcomes) {
    EXPECT_EQ(FileIoOutcome(100, {"Can not open f"}, 1), "test file not opened");
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Passed"}, 0), "passed");
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Failed"}, 2), "failed");
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Failed"}, 0), "passed");
    EXPECT_EQ(FileIoOutcome(0, {"Buffer size 1 can not be tested"}, 1), "not run");
}

TEST(EngineTexts, ReceiveOutcomes) {
    EXPECT_EQ(
        ReceiveOutcome(0, {"Listening for Sender..", "Receiver Timeout: please start again."}),
        "no sender");
    EXPECT_EQ(ReceiveOutcome(0, {"Sender Identified ", "Session closed by Sender"}), "completed");
    EXPECT_EQ(
        ReceiveOutcome(0, {"\nExpected 28h,D7h but read 28h, 0h", "Session closed by Sender"}),
        "completed with data errors");
    EXPECT_EQ(ReceiveOutcome(0, {"Netbios Error Return 18"}), "receive error");
    EXPECT_EQ(ReceiveOutcome(0, {"Error: Session not Created..23"}), "listen failed");
    EXPECT_EQ(ReceiveOutcome(0, {"\n\n0x16 error with add name..."}), "name not added");
}

TEST(EngineTexts, SenderBoardTextJoinsTheSummaryWithoutABlank) {
    EXPECT_EQ(SenderBoardText(1, "1234.5 KB/s 3000 bytes transfered"),
              "1234.5 KB/s 3000 bytes transferedRead REPORT.TXT if checked Save Results");
    // Only the low 16 bits of the result count.
    EXPECT_EQ(SenderBoardText(0x10001, "x"), "xRead REPORT.TXT if checked Save Results");
    EXPECT_EQ(SenderBoardText(10, "x"), "Sender Timeout: no receiver, command cancelled !");
    EXPECT_EQ(SenderBoardText(0, "x"), "Sender Timeout: no receiver, command cancelled !");
    // The board holds 120 characters with the terminator.
    EXPECT_EQ(SenderBoardText(1, std::string(100, 's').c_str()).size(), 119u);
}
