// The runner's command line, its reading of the engine's texts and the log decoder.
#include "compatlogreader.h"
#include "enginetext.h"
#include "options.h"
#include "recorder.h"
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
    // 200 bytes, and 202 once client 10's number is in it.
    const std::string numbered = "/" + std::string(kMaxPathBytes - 3, 'a') + ".T";
    const std::vector<Row> rows = {
        {{"fileio", "f", "--from=4096", "--to", "8192", "--mode=3"}, -1, ""},
        {{"fileio", "--from", "2", "--", "--odd"}, -1, ""},
        {{"fileio", "f", "--mode", "sequential read", "-q"}, -1, ""},
        {{"send", "--blocks=32000", "--size", "1", "--json", "s.json", "--csv", "s.csv"}, -1, ""},
        {{"log", "--json"}, -1, ""},
        {{"fileio", "f", "--repeat", "100000", "--duration=7d"}, -1, ""},
        {{"fileio", "f", "--repeat", "0"}, 64, "--repeat '0': a whole number from 1 to 100000"},
        {{"fileio", "f", "--duration", "169h"}, 64, "--duration '169h': a whole number of s, m, h"},
        {{"fileio", "f", "--duration", "1.5m"}, 64, "--duration '1.5m': a whole number of s"},
        {{"--version"}, 0, "zebcli 1.0 (ZEB LAN stress kit)\n"},
        {{"fileio", "f", "--from", "0", "--help"}, 0, "file I/O stress on the test file PATH"},
        {{}, 64, "no command given (fileio, send, recv, merge or log)"},
        {{"copy"}, 64, "unknown command 'copy' (fileio, send, recv, merge or log)"},
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
        {{"recv", "--interval", "0.01", "--json-stream", "-", "--series", "s.csv"}, -1, ""},
        {{"send", "--interval", "0"}, 64, "--interval '0': give seconds from 0.01 to 3600"},
        {{"send", "--interval", "3600.5"}, 64, "--interval '3600.5': give seconds from"},
        {{"send", "--interval", "1s"}, 64, "--interval '1s': give seconds from"},
        {{"send", "--interval", "nan"}, 64, "--interval 'nan': give seconds from"},
        {{"send", "--json-stream", "-", "--json", "-"},
         64,
         "--json and --json-stream cannot both go to standard output (-)"},
        {{"send", "--series", "x", "--csv", "./x"}, 64, "--csv and --series name the same file"},
        {{"fileio", "f", "--clients", "1,2,128", "--stop-on-failure", "--client-timeout", "86400"},
         -1,
         ""},
        {{"fileio", "f", "--clients", "129"}, 64, "--clients '129': a number of clients from 1 to"},
        {{"fileio", "f", "--clients", "2,,4"}, 64, "--clients '2,,4': a number of clients"},
        {{"fileio", "f", "--clients", "0"}, 64, "--clients '0': a number of clients"},
        {{"fileio", "f", "--clients", "2", "--client-timeout", "0"},
         64,
         "--client-timeout '0': whole seconds from 1 to 86400"},
        {{"fileio", "f", "--stop-on-failure"}, 64, "--stop-on-failure needs --clients"},
        {{"fileio", "f", "--clients", "2", "--json-stream", "s"}, 64, "--json-stream is for one"},
        {{"fileio", numbered, "--clients", "10"}, 64, "client 10's test file"},
        {{"merge"}, 64, "FILE is required"},
        {{"merge", "a.json", "./b.json", "--json", "b.json"},
         64,
         "--json names ./b.json, one of the files to merge"},
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
    EXPECT_EQ(Parse({"recv", "--interval", "0.25"}).options.intervalSeconds, 0.25);
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
    EXPECT_EQ(FileIoOutcome(100, {"Can not open f"}, 1), Outcome::TestFileNotOpened);
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Passed"}, 0), Outcome::Passed);
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Failed"}, 2), Outcome::Failed);
    EXPECT_EQ(FileIoOutcome(0, {"Test File: f", "File I/O Failed"}, 0), Outcome::Passed);
    EXPECT_EQ(FileIoOutcome(0, {"Buffer size 1 can not be tested"}, 1), Outcome::NotRun);
}

TEST(EngineTexts, ReceiveOutcomes) {
    EXPECT_EQ(
        ReceiveOutcome(0, {"Listening for Sender..", "Receiver Timeout: please start again."}),
        Outcome::NoSender);
    EXPECT_EQ(ReceiveOutcome(0, {"Sender Identified ", "Session closed by Sender"}),
              Outcome::Completed);
    EXPECT_EQ(
        ReceiveOutcome(0, {"\nExpected 28h,D7h but read 28h, 0h", "Session closed by Sender"}),
        Outcome::CompletedWithDataErrors);
    EXPECT_EQ(ReceiveOutcome(0, {"Netbios Error Return 18"}), Outcome::ReceiveError);
    EXPECT_EQ(ReceiveOutcome(0, {"Error: Session not Created..23"}), Outcome::ListenFailed);
    EXPECT_EQ(ReceiveOutcome(0, {"\n\n0x16 error with add name..."}), Outcome::NameNotAdded);
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

// What reaches the terminal of an engine text: printable UTF-8 as it is, everything that could
// steer the terminal or is not UTF-8 as escapes; a damaged pair's report cut at a 0x00 byte
// completed from the bytes the observer told (expected, actual; -1: none told).
TEST(EngineText, RenderedForTheTerminal) {
    struct Row {
        std::string text;
        int expected;
        int actual;
        std::string line;
    };
    const std::string cutAtExpected = "BYTES_DO_NOT_MISMATCH \xFF expected ";
    const std::vector<Row> rows = {
        {"T\x1B[31m.TST", -1, -1, "T\\x1B[31m.TST"},
        {std::string("a\0b", 3), -1, -1, "a\\x00b"},
        {"BYTES_DO_NOT_MISMATCH A expected \xBE actual \x07", -1, -1,
         "BYTES_DO_NOT_MISMATCH A expected \\xBE actual \\x07"},
        {"\x9B"
         "2J",
         -1, -1, "\\x9B2J"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", -1, -1,
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC2\x9B"
         "2J \xC2\xA0",
         -1, -1, "\\xC2\\x9B2J \xC2\xA0"},
        {"end \xE2\x82", -1, -1, "end \\xE2\\x82"},
        {"\xC0\xAF \xED\xA0\x80", -1, -1, "\\xC0\\xAF \\xED\\xA0\\x80"},
        {"\nExpected 1\r\nfound 2\n\r\n", -1, -1, "Expected 1  found 2"},
        {"C:\\x41\tDEL\x7F", -1, -1, "C:\\\\x41\\x09DEL\\x7F"},
        // The byte expected was 0x00 (the byte read 0xFF), or the byte read was, or the last.
        {cutAtExpected + "\n", 0x00, 0x41, "BYTES_DO_NOT_MISMATCH \\xFF expected \\x00 actual A"},
        {"BYTES_DO_NOT_MISMATCH ", 0xFF, 0x01,
         "BYTES_DO_NOT_MISMATCH \\x00 expected \\xFF actual \\x01"},
        {"BYTES_DO_NOT_MISMATCH + expected \xD4 actual ", 0xD4, 0x00,
         "BYTES_DO_NOT_MISMATCH + expected \\xD4 actual \\x00"},
        // Bytes that do not fit the text, or none told: the text as it came.
        {cutAtExpected, 0x10, 0x41, "BYTES_DO_NOT_MISMATCH \\xFF expected "},
        {cutAtExpected, -1, -1, "BYTES_DO_NOT_MISMATCH \\xFF expected "},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(BadPairLine(row.text, row.expected, row.actual), row.line) << row.text;
    }
}

// The recorder fed as the engine feeds it: a transfer belongs to the interval in which it
// ended, the intervals of a stall are there with no operation, the last one ends with the
// pass; failures are kept by kind with their offsets, the engine's verdict not among them.
TEST(Recorder, IntervalsCutByTimeAndFailuresByKind) {
    constexpr std::uint64_t kSecond = 1'000'000'000;
    constexpr std::uint64_t kOrigin = 1000 * kSecond;
    const auto transfer = [](int kind, double at, double seconds, int ok = 1) {
        ZebEvent e{};
        e.kind = kind;
        e.ok = ok;
        e.asked = e.moved = 4096;
        e.offset = 0;
        e.start_ns = kOrigin + static_cast<std::uint64_t>(at * kSecond);
        e.duration_ns = static_cast<std::uint64_t>(seconds * kSecond);
        e.text = ok != 0 ? nullptr : "cut off";
        return e;
    };
    const auto failure = [](int kind, double at, long long offset, const char* text) {
        ZebEvent e{};
        e.kind = ZEB_EVENT_FAILURE;
        e.failure = kind;
        e.offset = offset;
        e.expected = kind == ZEB_FAILURE_BAD_PAIR ? 0x41 : -1;
        e.actual = kind == ZEB_FAILURE_BAD_PAIR ? 0xBE : -1;
        e.start_ns = kOrigin + static_cast<std::uint64_t>(at * kSecond);
        e.text = text;
        return e;
    };
    std::vector<IntervalRecord> sunk;
    Recorder recorder(1, [&](const IntervalRecord& i) { sunk.push_back(i); });
    recorder.Start(kOrigin);
    for (const ZebEvent& e :
         {transfer(ZEB_EVENT_READ, 0.1, 0.001), transfer(ZEB_EVENT_READ, 0.2, 0.001),
          transfer(ZEB_EVENT_READ, 0.3, 3.2), // the stall, ends at 3.5 s
          transfer(ZEB_EVENT_WRITE, 3.6, 0.001, 0),
          failure(ZEB_FAILURE_BAD_PAIR, 3.7, 100, "BYTES_DO_NOT_MATCH"),
          failure(ZEB_FAILURE_OTHER, 3.7, -1, "File I/O Failed"),
          failure(ZEB_FAILURE_BAD_PAIR, 3.8, 300, "again"),
          failure(ZEB_FAILURE_READ, 3.9, -1, "READ_ERROR")}) {
        recorder.OnEvent(e);
    }
    EXPECT_EQ(recorder.Live().operations, 4u);
    EXPECT_EQ(recorder.Live().failures, 3u);
    const PassEvents events = recorder.Take(kOrigin + 4 * kSecond + kSecond / 4);

    struct Expected {
        double start, seconds;
        std::uint64_t operations, failures, maxNs;
    };
    const std::vector<Expected> expected = {{0, 1, 2, 0, kSecond / 1000},
                                            {1, 1, 0, 0, 0},
                                            {2, 1, 0, 0, 0},
                                            {3, 1, 2, 3, 32 * kSecond / 10},
                                            {4, 0.25, 0, 0, 0}};
    ASSERT_EQ(events.intervals.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const IntervalRecord& got = events.intervals[i];
        EXPECT_DOUBLE_EQ(got.startSeconds, expected[i].start) << i;
        EXPECT_DOUBLE_EQ(got.seconds, expected[i].seconds) << i;
        EXPECT_EQ(got.operations, expected[i].operations) << i;
        EXPECT_EQ(got.bytes, expected[i].operations * 4096) << i;
        EXPECT_EQ(got.failures, expected[i].failures) << i;
        EXPECT_EQ(got.maxNs, expected[i].maxNs) << i;
        EXPECT_EQ(sunk.at(i).operations, got.operations) << i;
    }
    EXPECT_EQ(events.latency.at(kReadLatency).Count(), 3u);
    EXPECT_EQ(events.latency.at(kReadLatency).Max(), 32 * kSecond / 10);
    EXPECT_EQ(events.latency.at(kWriteLatency).Count(), 1u);
    EXPECT_EQ(events.writes.failed, 1u);
    EXPECT_EQ(events.cause, "cut off");
    EXPECT_EQ(events.failures, 3u);
    ASSERT_EQ(events.failureKinds.size(), 2u);
    const FailureRecord& pair = events.failureKinds[0];
    EXPECT_EQ(pair.kind, "bad_pair");
    EXPECT_EQ(pair.count, 2u);
    EXPECT_EQ(pair.firstOffset, 100);
    EXPECT_EQ(pair.lastOffset, 300);
    EXPECT_EQ(pair.expected, 0x41);
    EXPECT_EQ(pair.actual, 0xBE);
    EXPECT_EQ(pair.text, "BYTES_DO_NOT_MATCH");
    EXPECT_EQ(events.failureKinds[1].kind, "read");
    EXPECT_EQ(events.failureKinds[1].firstOffset, -1);
    // Taken, it starts anew.
    EXPECT_EQ(recorder.Live().operations, 0u);
}
