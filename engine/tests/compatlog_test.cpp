// The compatibility log's records, byte for byte, and how the writer behaves when the log
// cannot be written.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "compatlog.h"
#include "engine_test_util.h"

using namespace zebtest;

namespace {

// Each test writes its records under a scratch $WINDIR of its own.
class LogTest : public ::testing::Test {
  protected:
    Scratch scratch;
};
using CompatLogRecord = LogTest;
using CompatLogFile = LogTest;

} // namespace

TEST_F(CompatLogRecord, AbcIsEightExactBytes) {
    CompatLogPrintf("%s", "abc");
    const std::string expected("\x07\x05\x00\x61\x63\x61\x0E\x0E", 8);
    EXPECT_EQ(ReadFile(scratch.Log()), expected);
}

TEST_F(CompatLogRecord, EveryRecordRestartsItsKeyAtZero) {
    CompatLogPrintf("%s", "abc");
    CompatLogPrintf("%s\n", "xyz");
    const std::string raw = ReadFile(scratch.Log());
    ASSERT_EQ(raw.size(), 8u + 9u);
    // Second record: 6 bytes "xyz\n\r\n", keys 0..5.
    EXPECT_EQ(raw.substr(8, 3), std::string("\x07\x06\x00", 3));
    EXPECT_EQ(static_cast<unsigned char>(raw[11]), 'x' ^ 0);
    EXPECT_EQ(static_cast<unsigned char>(raw[12]), 'y' ^ 1);
    EXPECT_EQ(DecodeLog(scratch.Log()), (Texts{"abc\r\n", "xyz\n\r\n"}));
}

TEST_F(CompatLogRecord, KeyWrapsAfter256Bytes) {
    const std::string text(300, 'A');
    CompatLogWrite(text.c_str());
    const std::string raw = ReadFile(scratch.Log());
    ASSERT_EQ(raw.size(), 303u);
    EXPECT_EQ(static_cast<unsigned char>(raw[1]), 300 & 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(raw[2]), 300 >> 8);
    for (std::size_t k = 0; k < 300; ++k) {
        ASSERT_EQ(static_cast<unsigned char>(raw[3 + k]), ('A' ^ (k % 256))) << k;
    }
}

TEST_F(CompatLogRecord, LongTextSplitsAt65535) {
    std::string text(65535 + 10, 'q');
    text[65535] = 'Z'; // first byte of the second record: key 0 again
    CompatLogWrite(text.c_str());
    const std::string raw = ReadFile(scratch.Log());
    ASSERT_EQ(raw.size(), 3u + 65535u + 3u + 10u);
    EXPECT_EQ(raw.substr(0, 3), std::string("\x07\xFF\xFF", 3));
    EXPECT_EQ(raw.substr(65538, 3), std::string("\x07\x0A\x00", 3));
    EXPECT_EQ(raw[65541], 'Z');
    auto texts = DecodeLog(scratch.Log());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0] + texts[1], text);
}

TEST_F(CompatLogRecord, EmptyTextWritesNothing) {
    CompatLogWrite("");
    EXPECT_FALSE(std::filesystem::exists(scratch.Log()));
}

TEST_F(CompatLogRecord, OverlongFormattedTextIsCutAndStillEndsInCrLf) {
    const std::string text(1000, 'x');
    CompatLogPrintf("%s\n", text.c_str());
    auto texts = DecodeLog(scratch.Log());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_GE(texts[0].size(), 303u + 3u);
    EXPECT_LT(texts[0].size(), 1000u);
    EXPECT_EQ(texts[0].substr(texts[0].size() - 2), "\r\n");
    EXPECT_EQ(texts[0].find_first_not_of('x'), texts[0].size() - 2);
}

TEST_F(CompatLogFile, ExistingLogOnlyGrowsAtItsEnd) {
    const std::string earlier = "anything at all, not even records\x01\x02";
    { std::ofstream(scratch.Log(), std::ios::binary) << earlier; }
    CompatLogPrintf("%s", "abc");
    const std::string raw = ReadFile(scratch.Log());
    ASSERT_EQ(raw.size(), earlier.size() + 8);
    EXPECT_EQ(raw.substr(0, earlier.size()), earlier);
    EXPECT_EQ(raw.substr(earlier.size()), std::string("\x07\x05\x00\x61\x63\x61\x0E\x0E", 8));
}

TEST_F(CompatLogFile, MissingCtlogsDirectoryIsNeverCreated) {
    const Scratch bare(/*withCtlogs=*/false);
    CompatLogPrintf("%s", "dropped");
    EXPECT_FALSE(std::filesystem::exists(bare.Log().parent_path()));
}

TEST_F(CompatLogFile, LogHeldByAnotherOpenerDropsTheRecordAndKeepsAlignment) {
    CompatLogPrintf("%s", "first");
    int holder = open(scratch.Log().c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    CompatLogPrintf("%s", "while held");
    close(holder);
    CompatLogPrintf("%s", "after");
    EXPECT_EQ(DecodeLog(scratch.Log()), (Texts{"first\r\n", "after\r\n"}));
}

TEST_F(CompatLogFile, RecordCutByTheFileSystemIsTakenBack) {
    CompatLogPrintf("%s", "kept");
    const auto keptSize = std::filesystem::file_size(scratch.Log());
    // In a child, the file size limit lets only part of the next record through.
    EXPECT_TRUE(InChildPasses([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(keptSize + 5), static_cast<rlim_t>(keptSize + 5)};
        setrlimit(RLIMIT_FSIZE, &limit);
        CompatLogPrintf("%s", "this record does not fit");
    }));
    EXPECT_EQ(std::filesystem::file_size(scratch.Log()), keptSize);
    CompatLogPrintf("%s", "aligned");
    EXPECT_EQ(DecodeLog(scratch.Log()), (Texts{"kept\r\n", "aligned\r\n"}));
}

// The log is written in append mode, never looked at first: a FIFO in its place, held open
// by another process that does not read it, must not stall the engine once its buffer is full.
TEST_F(CompatLogFile, FifoInPlaceOfTheLogNeverHoldsTheWriterUp) {
    ASSERT_EQ(mkfifo(scratch.Log().c_str(), 0600), 0);
    const int holder = open(scratch.Log().c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    EXPECT_TRUE(InChildPasses([] {
        alarm(20); // a writer stuck on the full FIFO dies here and the test fails
        const std::string text(200, 'f');
        for (int i = 0; i < 2000; ++i) { // about 400 kB, several times a pipe's buffer
            CompatLogPrintf("%s", text.c_str());
        }
    }));
    close(holder);
}

// A line without formatting is the same record as the line formatted with "%s", cut alike.
TEST_F(CompatLogRecord, LineIsTheSameRecordAsPrintfOfIt) {
    for (std::size_t length : {1u, 316u, 317u, 318u, 1000u}) {
        const Scratch each;
        const std::string text(length, 'q');
        CompatLogPrintf("%s", text.c_str());
        CompatLogLine(text.c_str());
        const auto texts = DecodeLog(each.Log());
        ASSERT_EQ(texts.size(), 2u) << length;
        EXPECT_EQ(texts[1], texts[0]) << length;
    }
}

TEST(CompatLogPath, WindowsDirectoryFromEnvironmentOrVarLog) {
    char path[256];
    setenv("WINDIR", "/some/dir", 1);
    ASSERT_TRUE(CompatLogPath(path, sizeof path));
    EXPECT_STREQ(path, "/some/dir/ctlogs/PLV.log");
    setenv("WINDIR", "", 1);
    ASSERT_TRUE(CompatLogPath(path, sizeof path));
    EXPECT_STREQ(path, "/var/log/ctlogs/PLV.log");
    unsetenv("WINDIR");
    ASSERT_TRUE(CompatLogPath(path, sizeof path));
    EXPECT_STREQ(path, "/var/log/ctlogs/PLV.log");
    // A Windows directory that does not fit its 200 characters drops the text.
    setenv("WINDIR", std::string(200, 'd').c_str(), 1);
    EXPECT_FALSE(CompatLogPath(path, sizeof path));
}
