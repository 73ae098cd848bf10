// The runner's command line, its JSON summary and its reading of the engine's texts.
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
    ASSERT_TRUE(result.ok) << result.error;
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
}

TEST(Arguments, SendTakesTheDialogDefaultsAndBounds) {
    ParseResult result = Parse({"send"});
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.options.blocks, 1000);
    EXPECT_EQ(result.options.bufferSize, 65535u);
    result = Parse({"send", "--blocks", "32000", "--size", "1", "--save", "--json", "s.json"});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.options.blocks, 32000);
    EXPECT_EQ(result.options.bufferSize, 1u);
    EXPECT_TRUE(result.options.save);
    EXPECT_EQ(result.options.jsonPath, "s.json");
}

TEST(Arguments, NumbersFollowTheDialogsSyntaxAndRanges) {
    struct Row {
        std::vector<std::string_view> args;
        std::string error; // empty: accepted
    };
    const std::vector<Row> rows = {
        {{"fileio", "f", "--from", " \t+1 "}, ""},
        {{"fileio", "f", "--from", "0"},
         "--from '0': Please enter an integer between 1 and 65535."},
        {{"fileio", "f", "--from", "65536"},
         "--from '65536': Please enter an integer between 1 and 65535."},
        {{"fileio", "f", "--to", "32001"},
         "--to '32001': Please enter an integer between 2 and 32000."},
        {{"fileio", "f", "--inc", "0"}, "--inc '0': Please enter an integer between 2 and 32000."},
        {{"fileio", "f", "--iterations", "1"},
         "--iterations '1': Please enter an integer between 2 and 32000."},
        {{"fileio", "f", "--inc", "8x"}, "--inc '8x': Please enter an integer."},
        {{"fileio", "f", "--inc", ""}, "--inc '': Please enter an integer."},
        {{"fileio", "f", "--from", "99999999999999999999"},
         "--from '99999999999999999999': Please enter an integer between 1 and 65535."},
        {{"send", "--size", "0"}, "--size '0': Please enter an integer between 1 and 65535."},
        {{"send", "--blocks", "-1"}, "--blocks '-1': Please enter an integer between 1 and 32000."},
        {{"send", "--blocks", "32001"},
         "--blocks '32001': Please enter an integer between 1 and 32000."},
        {{"fileio", "f", "--mode", "Sequential Read and W"},
         "--mode 'Sequential Read and W': Please enter no more than 20 characters."},
    };
    for (const Row& row : rows) {
        const ParseResult result = Parse(row.args);
        EXPECT_EQ(result.ok, row.error.empty()) << row.error;
        EXPECT_EQ(result.error, row.error);
    }
}

TEST(Arguments, UsageErrorsSayWhatIsWrong) {
    struct Row {
        std::vector<std::string_view> args;
        std::string error;
    };
    const std::vector<Row> rows = {
        {{}, "no command given (fileio, send or recv); see --help"},
        {{"copy"}, "unknown command 'copy' (fileio, send or recv)"},
        {{"fileio"}, "fileio needs the test file's path"},
        {{"fileio", "--from", "4"}, "fileio needs the test file's path"},
        {{"fileio", ""}, "the test file's path is empty"},
        {{"fileio", "f", "--blocks", "4"}, "unknown option '--blocks' for fileio"},
        {{"send", "--mode", "Random Read"}, "unknown option '--mode' for send"},
        {{"recv", "--size", "4"}, "unknown option '--size' for recv"},
        {{"send", "--blocks"}, "--blocks needs a value"},
        {{"recv", "--json", ""}, "--json needs a file name"},
        {{"recv", "extra"}, "unknown option 'extra' for recv"},
        {{"fileio", "smb://u:pw@nas/s/T.TST"},
         "the test file's URL holds a password: give it in PASSWD or --authentication-file"},
    };
    for (const Row& row : rows) {
        const ParseResult result = Parse(row.args);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, row.error);
    }
    // The engine's texts hold the path: 200 bytes pass, 201 do not.
    const std::string longest(kMaxPathBytes, 'p');
    EXPECT_TRUE(Parse({"fileio", longest}).ok);
    const std::string tooLong(kMaxPathBytes + 1, 'p');
    EXPECT_EQ(Parse({"fileio", tooLong}).error, "the test file's path is longer than 200 bytes");
    // A port, or a colon past the server, is no password.
    EXPECT_TRUE(Parse({"fileio", "smb://u@nas:445/s/a:b@c"}).ok);
}

TEST(Arguments, HelpWinsAnywhere) {
    EXPECT_EQ(Parse({"--help"}).options.command, Command::Help);
    const ParseResult result = Parse({"fileio", "f", "--from", "0", "--help"});
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.options.command, Command::Help);
}

TEST(Arguments, ModeNamesMatchExactlyAsInTheDialog) {
    EXPECT_EQ(Parse({"fileio", "f", "--mode", "Sequential Read"}).options.ioMode, 0);
    EXPECT_EQ(Parse({"fileio", "f", "--mode", "Overlay R & W"}).options.ioMode, 8);
    EXPECT_EQ(Parse({"fileio", "f", "--mode", "overlay write"}).options.ioMode, 5);
    EXPECT_EQ(Parse({"fileio", "f", "--mode", "Overlay Write "}).options.ioMode, 5);
}

TEST(Json, StringsAreEscapedAndBytesReadAsTheBoardShowsThem) {
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString("\nRead verify failed\r\t"), R"("\nRead verify failed\r\t")");
    EXPECT_EQ(JsonString(std::string("\x01\x7f", 2)), R"("\u0001\u007f")");
    // Valid UTF-8 stays as it is.
    EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // Raw pattern bytes are not UTF-8: each byte above 0x7F becomes its Latin-1 character.
    EXPECT_EQ(JsonString("\xdf\x20\xde"), R"("\u00df \u00de")");
    // An overlong form or a lone continuation byte is not UTF-8 either.
    EXPECT_EQ(JsonString("\xc0\xaf"), R"("\u00c0\u00af")");
    EXPECT_EQ(JsonString("\xe9"), R"("\u00e9")");
}

TEST(Json, SummaryHoldsParametersAndEveryRun) {
    Options options = Parse({"fileio", "/t/f", "--from", "4", "--to", "6", "--inc", "2"}).options;
    RunRecord first{"2026-12-08T10:00:00.000Z", 0.5, "passed", 3, 4u, 20.0, 0, ""};
    RunRecord second{"2026-12-08T10:00:01.000Z", 0.25, "failed", 2, 6u, 40.0, 0, ""};
    const std::string json = SummaryJson(options, {first, second}, 2);
    EXPECT_EQ(json, R"({
  "command": "fileio",
  "parameters": {
    "path": "/t/f",
    "from": 4,
    "to": 6,
    "increment": 2,
    "iterations": 10,
    "mode": "Overlay Write",
    "mode_index": 7,
    "cache": "plain",
    "save": false
  },
  "runs": [
    {
      "buffer_size": 4,
      "start": "2026-12-08T10:00:00.000Z",
      "elapsed_seconds": 0.5,
      "outcome": "passed",
      "engine_result": 0,
      "result_code": 3,
      "operations_per_second": 20
    },
    {
      "buffer_size": 6,
      "start": "2026-12-08T10:00:01.000Z",
      "elapsed_seconds": 0.25,
      "outcome": "failed",
      "engine_result": 0,
      "result_code": 2,
      "operations_per_second": 40
    }
  ],
  "result_code": 2
}
)");
    EXPECT_NE(SummaryJson(Parse({"recv"}).options, {}, 3).find("\"runs\": [],"), std::string::npos);
}

TEST(EngineTexts, FileIoOutcomes) {
    EXPECT_EQ(FileIoOutcome(100, {"Can not open f"}), "test file not opened");
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Passed"}), "passed");
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Failed"}), "failed");
    EXPECT_EQ(FileIoOutcome(0, {"Buffer size 1 can not be tested"}), "not run");
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
