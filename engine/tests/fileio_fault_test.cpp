// Faults during a pass: reads of the test file pass through a seam here that can flip a byte
// of what was read or cut a read short, as a failing drive or network would.
#include <dlfcn.h>
#include <regex>
#include <sys/stat.h>

#include "engine_test_util.h"
#include "fileio.h"

using namespace zebtest;

namespace {

// What the seam does to reads of exactly `size` bytes, so that the file's preparation
// (65534-byte chunks) sees good data.
struct Fault {
    std::size_t size = 0;
    long fileOffset = -1;      // flip the byte read from this file offset
    long index = -1;           // flip this index of every read buffer
    bool cutShort = false;     // return half of what was read
    int cutFileAt = 0;         // the file cut to length 0 by another writer before this read
    bool refuseWrites = false; // every write of `size` bytes fails as O_DIRECT refuses it
    int failSizeFrom = 0;      // from this read of `size` bytes on, every fstat fails with EIO
};
Fault Active;
int ReadsSeen = 0;

} // namespace

// The C library's header names the parameters with names reserved to it.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    using Fn = ssize_t (*)(int, void*, size_t, off_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pread"));
    if (count == Active.size && ++ReadsSeen == Active.cutFileAt) {
        EXPECT_EQ(ftruncate(fd, 0), 0);
    }
    ssize_t n = real(fd, buf, count, offset);
    if (n <= 0 || count != Active.size) {
        return n;
    }
    auto* bytes = static_cast<unsigned char*>(buf);
    if (Active.fileOffset >= offset && Active.fileOffset < offset + n) {
        bytes[Active.fileOffset - offset] ^= 0x01;
    }
    if (Active.index >= 0 && Active.index < n) {
        bytes[Active.index] ^= 0x01;
    }
    return Active.cutShort ? n / 2 : n;
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    using Fn = ssize_t (*)(int, const void*, size_t, off_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pwrite"));
    if (Active.refuseWrites && count == Active.size) {
        errno = EINVAL;
        return -1;
    }
    return real(fd, buf, count, offset);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int fstat(int fd, struct stat* st) {
    using Fn = int (*)(int, struct stat*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fstat"));
    if (Active.failSizeFrom > 0 && ReadsSeen >= Active.failSizeFrom) {
        errno = EIO;
        return -1;
    }
    return real(fd, st);
}

namespace {

struct PassRun {
    int status; // the child's exit status
    Texts report;
};

// One pass on the test file f, in a child where the seam does what fault says.
PassRun RunPass(Scratch& scratch, unsigned b, int mode, unsigned iterations, Fault fault) {
    const std::string path = scratch.Path("f").string();
    const int status = InChild([&] {
        PassSaveResult(1);
        PrepareTestFile(path.c_str()); // a good file first, without faults
        std::remove("report.txt");
        fault.size = b;
        Active = fault;
        SQL_Test(path.c_str(), b, b, 2, mode, iterations);
    });
    return {status, ReadLines(scratch.Path("report.txt"))};
}

TEST(FaultDuringPass, PairGoneBadInSequentialReadIsReportedAtItsFileOffset) {
    Scratch scratch;
    const Texts lines = RunPass(scratch, 64, 0, 2, {.fileOffset = 100}).report;
    // The block at 64 holds the pair at index 36; the report carries 64 + 37.
    EXPECT_EQ(lines, (Texts{"Checking test file..", "Passed",
                            Heading(scratch.Path("f").string(), 64, 0, 2),
                            "BYTES_DO_NOT_MISMATCH S expected \xAC actual \xAD", "",
                            "VERIFY_ERROR at offset 101", "", "File I/O Failed"}));
}

TEST(FaultDuringPass, BadReadBackInSequentialReadWriteEndsTheProcess) {
    Scratch scratch;
    const auto [status, lines] = RunPass(scratch, 64, 2, 10, {.fileOffset = 100});
    EXPECT_EQ(status, 1);
    // What was read back is the pass's own pattern: pair 18 of the buffer, at byte 36.
    EXPECT_EQ(lines, (Texts{"Checking test file..", "Passed",
                            Heading(scratch.Path("f").string(), 64, 2, 10),
                            "BYTES_DO_NOT_MISMATCH 3 expected \xCC actual \xCD", "",
                            "VERIFY_ERROR at offset 101", "", ""}));
}

// Another writer cuts the file in the middle of a sequential read: the reads that find
// nothing where the test file was are failures, not the end of the file.
TEST(FaultDuringPass, FileCutByAnotherWriterFailsASequentialRead) {
    Scratch scratch;
    const Texts lines = RunPass(scratch, 4096, 0, 10, {.cutFileAt = 3}).report;
    EXPECT_NE(std::ranges::find(lines, "READ_ERROR at offset 8192"), lines.end());
    EXPECT_EQ(lines.back(), "File I/O Failed");
}

// The server goes away between two blocks of a sequential read, so that the size query at
// the end of the file fails while every read so far was good: the failure is a failed
// operation of the pass in the observer's record too, not only a line of the report.
TEST(FaultDuringPass, FailedSizeQueryAtTheEndIsAFailedOperation) {
    Scratch scratch;
    const std::string path = scratch.Path("f").string();
    constexpr unsigned kBlock = 4832; // 217 blocks make the file exactly
    EXPECT_TRUE(InChildPasses([&] {
        PassSaveResult(1);
        PrepareTestFile(path.c_str());
        std::remove("report.txt");
        struct Seen {
            int failedReads = 0;
            unsigned asked = 1;
        } seen;
        SetEventObserver(
            [](void* context, const ZebEvent* event) {
                auto* s = static_cast<Seen*>(context);
                if (event->kind == ZEB_EVENT_READ && event->ok == 0) {
                    ++s->failedReads;
                    s->asked = event->asked;
                }
            },
            &seen);
        Active = {.size = kBlock, .failSizeFrom = 2};
        SQL_Test(path.c_str(), kBlock, kBlock, 2, 0, 220);
        SetEventObserver(nullptr, nullptr);
        Active = {};
        // Each block after the first failed query asks again, and fails again.
        const Texts report = ReadLines(scratch.Path("report.txt"));
        EXPECT_EQ(seen.failedReads, std::ranges::count_if(report, [](const std::string& line) {
                      return line.starts_with("READ_ERROR");
                  }));
        EXPECT_GE(seen.failedReads, 1);
        EXPECT_EQ(seen.asked, 0U);
    }));
    const Texts lines = ReadLines(scratch.Path("report.txt"));
    EXPECT_NE(std::ranges::find(lines, "READ_ERROR at offset 1048544"), lines.end());
    EXPECT_EQ(lines.back(), "File I/O Failed");
}

// A creation whose every write is refused is reported and leaves no empty file behind.
TEST(FaultDuringPass, CreationThatWritesNothingLeavesNoFile) {
    Scratch scratch;
    const std::string path = scratch.Path("f").string();
    EXPECT_EQ(InChild([&] {
                  PassSaveResult(1);
                  Active = {.size = 65534, .refuseWrites = true};
                  EXPECT_EQ(SQL_Test(path.c_str(), 4096, 4096, 2, 1, 10), 100);
              }),
              0);
    EXPECT_FALSE(std::filesystem::exists(path));
    const Texts lines = ReadLines(scratch.Path("report.txt"));
    EXPECT_NE(std::ranges::find(lines, "VERIFY_ERROR testfile corrupt, file creation failed"),
              lines.end());
    EXPECT_EQ(lines.back(), "Can not open " + path);
}

struct DetailCase {
    int mode;
    bool shortRead;
    const char* pattern; // the report's lines after the heading, each followed by '|'
};

class FaultDetails : public ::testing::TestWithParam<DetailCase> {};

TEST_P(FaultDetails, EachModeUsesItsOwnDetailText) {
    const DetailCase c = GetParam();
    Scratch scratch;
    const Fault fault{.index = c.shortRead ? -1 : 10, .cutShort = c.shortRead};
    const Texts lines = RunPass(scratch, 512, c.mode, 1, fault).report;
    std::string joined;
    for (std::size_t i = 3; i < lines.size(); ++i) {
        joined += lines[i] + "|";
    }
    EXPECT_TRUE(std::regex_match(joined, std::regex(c.pattern))) << joined;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultDetails,
    ::testing::Values(
        DetailCase{0, false,
                   R"(BYTES_DO_NOT_MISMATCH .*\|\|VERIFY_ERROR at offset 11\|\|File I/O Failed\|)"},
        DetailCase{0, true, R"(READ_ERROR at offset 0\|\|File I/O Failed\|)"},
        DetailCase{3, false,
                   R"(BYTES_DO_NOT_MISMATCH .*\|\|VERIFY_ERROR at offerset [0-9]+ \|\|)"
                   R"(File I/O Failed\|)"},
        DetailCase{3, true, R"(READ_ERROR at offset [0-9]+\|\|\|File I/O Failed\|)"},
        DetailCase{5, true, R"(READ_ERROR at offset [0-9]+\|\|\|Passed\|File I/O Failed\|)"},
        DetailCase{6, false,
                   R"(BYTES_DO_NOT_MISMATCH .*\|\|VERIFY_ERROR at offerset 524267 \|\|)"
                   R"(File I/O Failed\|)"},
        DetailCase{8, true, R"(READ_ERROR at offset 524256\|\|\|Passed\|File I/O Failed\|)"}),
    zebtest::Named([](const DetailCase& c) {
        return "mode" + std::to_string(c.mode) + (c.shortRead ? "_short_read" : "_bad_byte");
    }));

} // namespace
