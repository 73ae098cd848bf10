// The block structure of the real binary's file traffic, seen through strace: one read or
// write call per block of the transfer buffer, and lock, write, unlock for every block that
// a copy writes. Skipped where strace cannot run.
#include "test_support.h"

#include <cstdlib>
#include <regex>

namespace vor32_test {
namespace {

struct Call {
    std::string name;
    int fd = -1;
    std::string detail; // the lock record of an fcntl
    long asked = 0;     // the byte count asked for
    long result = 0;
};

// Runs vor32 under strace and returns its read, write and fcntl calls on data files (neither
// the log nor standard output), or nothing when strace is not available.
std::vector<Call> TracedRun(const TempDir& dir, const std::vector<std::string>& args,
                            bool* traced) {
    *traced = false;
    if (std::system("strace -V >/dev/null 2>&1") != 0) {
        return {};
    }
    // LeakSanitizer cannot work under ptrace: in a sanitizer build the traced program is
    // checked for everything but leaks.
    std::string command = "cd '" + dir.path().string() +
                          "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                          "strace -qq -o trace.txt -e trace=read,write,fcntl,mmap,openat "
                          "-e signal=none " VOR32_BINARY;
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    command += " >/dev/null 2>&1";
    std::system(command.c_str()); // the exit code is the program's
    *traced = fs::exists(dir / "trace.txt");
    static const std::regex io("^(read|write)\\(([0-9]+), .*, ([0-9]+)\\) += ([0-9-]+)");
    static const std::regex lock("^fcntl\\(([0-9]+), F_OFD_SETLK, \\{(.*)\\}\\) += ([0-9-]+)");
    static const std::regex open("^openat\\(AT_FDCWD, \"([^\"]*)\", .*\\) += ([0-9-]+)");
    std::vector<Call> calls;
    std::vector<bool> dataFile(64, false);
    std::smatch m;
    for (const std::string& line : zebtest::ReadLines(dir / "trace.txt")) {
        if (std::regex_search(line, m, open)) {
            int fd = std::stoi(m[2]);
            if (fd >= 0 && fd < 64) {
                dataFile[fd] = std::string(m[1]).find(kDataName) != std::string::npos;
            }
        } else if (std::regex_search(line, m, io)) {
            int fd = std::stoi(m[2]);
            if (fd < 64 && dataFile[fd]) {
                calls.push_back({m[1], fd, "", std::stol(m[3]), std::stol(m[4])});
            }
        } else if (std::regex_search(line, m, lock)) {
            calls.push_back({"fcntl", std::stoi(m[1]), m[2], 0, std::stol(m[3])});
        } else if (line.find("mmap(NULL, 20000,") == 0) {
            calls.push_back({"mmap", -1, "", 20000, 0});
        }
    }
    return calls;
}

std::string Describe(const std::vector<Call>& calls) {
    std::string text;
    for (const Call& c : calls) {
        if (c.name == "fcntl") {
            text += "lock " + c.detail + "\n";
        } else {
            text +=
                c.name + " " + std::to_string(c.asked) + " = " + std::to_string(c.result) + "\n";
        }
    }
    return text;
}

struct BlockRow {
    std::string name;
    std::vector<std::string> args;
    std::string calls; // as Describe writes them
};

using Blocks = Vor32ParamTest<BlockRow>;

// A copy's first block of 20,000 bytes: read, then written under a lock of its range.
const std::string kFirstBlockCopied =
    "read 20000 = 20000\n"
    "lock l_type=F_WRLCK, l_whence=SEEK_SET, l_start=0, l_len=20000\n"
    "write 20000 = 20000\n"
    "lock l_type=F_UNLCK, l_whence=SEEK_SET, l_start=0, l_len=20000\n";

TEST_P(Blocks, OneCallPerBlockAndALockAroundEachWrite) {
    bool traced = false;
    std::vector<Call> calls = TracedRun(dir, GetParam().args, &traced);
    if (!traced) {
        GTEST_SKIP() << "strace is not available here";
    }
    EXPECT_EQ(Describe(calls), GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Blocks,
    ::testing::Values(
        BlockRow{"FileOfTransBufSizePlusFour",
                 {"20004", "20000", "4", "A", "B", "/t"},
                 "mmap 20000 = 0\n"
                 // the initial file: one full buffer, then one write of 4 bytes
                 "write 20000 = 20000\n"
                 "write 4 = 4\n"
                 // its verification
                 "read 20000 = 20000\n"
                 "read 20000 = 4\n" +
                     // the copy: lock, write and unlock for each block
                     kFirstBlockCopied +
                     "read 20000 = 4\n"
                     "lock l_type=F_WRLCK, l_whence=SEEK_SET, l_start=20000, l_len=4\n"
                     "write 4 = 4\n"
                     "lock l_type=F_UNLCK, l_whence=SEEK_SET, l_start=20000, l_len=4\n"
                     // the verification of the copy
                     "read 20000 = 20000\n"
                     "read 20000 = 4\n"},
        BlockRow{"FileOfExactlyTransBufSize",
                 {"20000", "20000", "4", "A", "B", "/t"},
                 "mmap 20000 = 0\n"
                 "write 20000 = 20000\n"
                 "read 20000 = 20000\n"
                 "read 20000 = 0\n" +
                     kFirstBlockCopied +
                     "read 20000 = 0\n"
                     "read 20000 = 20000\n"
                     "read 20000 = 0\n"},
        BlockRow{"EmptyFileCopiesWithOneReadOfNothing",
                 {"0", "20000", "20000", "A", "B", "/t"},
                 "mmap 20000 = 0\n"
                 // an empty initial file: nothing written; its verification reads nothing
                 "read 20000 = 0\n"
                 // the first copy: one read of nothing; its verification; the growth by
                 // one full buffer
                 "read 20000 = 0\n"
                 "read 20000 = 0\n"
                 "write 20000 = 20000\n" +
                     // the second, unlogged copy at MaxSize and its verification
                     kFirstBlockCopied +
                     "read 20000 = 0\n"
                     "read 20000 = 20000\n"
                     "read 20000 = 0\n"}),
    zebtest::Named([](const BlockRow& r) { return r.name; }));

} // namespace
} // namespace vor32_test
