// Faults of the file system under a running vor32: a target on a file system that fills up in
// the middle of the run, and a target on a read-only file system. Each ends the run with the
// failing operation's message and exit code 1; the log holds every line up to the failure,
// whole; the copy at the other target is intact. The small file systems are tmpfs mounts in a
// mount namespace of this test process's own (skipped where that is not permitted).
#include "netns.h"
#include "test_support.h"

#include <sys/mount.h>

#include <regex>

namespace vor32_test {
namespace {

// The log as lines, each of which must have ended in CR LF (the totals' LF CR endings do not
// occur in a failed run).
std::vector<std::string> LogLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "log line without its CR LF at byte " << at;
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(log.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

using FileSystemFault = Vor32Test;

TEST_F(FileSystemFault, TargetThatFillsUpEndsTheRunWithTheWriteFailure) {
    dir.Make({"small"});
    if (std::string why = zebtest::MountTmpfs(dir / "small", "size=64k", 0); !why.empty()) {
        GTEST_SKIP() << why;
    }
    Outcome outcome = RunHere({"4000", "1000000", "4000", "A", "small", "/t", "/v"});
    umount2((dir / "small").c_str(), MNT_DETACH);
    ASSERT_TRUE(ExitedWith(outcome, 1));
    // The failing write is either a copy onto the full target or the growth of the file there.
    static const std::regex copyFailed(
        "dwBytesWritten \\(([0-9]+)\\) != dwBytesRead \\(([0-9]+)\\)");
    static const std::regex growthFailed("dwBytesWritten \\(([0-9]+)\\) != dwCount \\(([0-9]+)\\)");
    const std::string log = ReadFile(dir / "VOR32.LOG");
    std::vector<std::string> lines = LogLines(log);
    ASSERT_FALSE(lines.empty());
    std::smatch m;
    const bool copy = std::regex_match(lines.back(), m, copyFailed);
    const bool growth = !copy && std::regex_match(lines.back(), m, growthFailed);
    ASSERT_TRUE(copy || growth) << lines.back();
    EXPECT_LT(std::stoul(m[1]), std::stoul(m[2]));
    EXPECT_TRUE(outcome.output.ends_with(lines.back() + "\n")) << outcome.output;
    if (growth) {
        EXPECT_NE(outcome.output.find("gle=28\n"), std::string::npos) << "the disk-full error";
    }
    // Every transfer the console showed is in the log, whole and in order, before the failure.
    std::vector<Transfer> shown = Transfers(outcome.output);
    std::vector<Transfer> logged = Transfers(log);
    ASSERT_GE(shown.size(), 2u) << "the file system filled up too early to test anything";
    ASSERT_EQ(logged.size(), shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(logged[i].number, shown[i].number);
        EXPECT_EQ(logged[i].size, shown[i].size);
    }
    // Nothing lost at the good target: its file holds the cells of the last size it reached.
    const std::string atA = ReadFile(dir / "A" / kDataName);
    EXPECT_EQ(atA, Cells(static_cast<std::uint32_t>(atA.size())));
    EXPECT_GE(atA.size(), 4000u);
}

TEST_F(FileSystemFault, ReadOnlyTargetIsRefusedWithItsMessage) {
    dir.Make({"ro"});
    if (std::string why = zebtest::MountTmpfs(dir / "ro", "size=64k", MS_RDONLY); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // As the destination of the first copy.
    Outcome copy = RunHere({"8", "16", "4", "A", "ro", "/t", "/v"});
    ASSERT_TRUE(ExitedWith(copy, 1));
    const std::string refusal = "Unable to open 'ro/" + kDataName + "' for writing.";
    EXPECT_TRUE(copy.output.ends_with(kSeparators + refusal + "\n")) << copy.output;
    EXPECT_TRUE(ReadFile(dir / "VOR32.LOG").ends_with(refusal + "\r\n"));
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(8)) << "the source is untouched";
    // As the target of the initial file.
    Outcome initial = RunHere({"8", "16", "4", "ro", "A", "/t"});
    umount2((dir / "ro").c_str(), MNT_DETACH);
    ASSERT_TRUE(ExitedWith(initial, 1));
    const std::string creation = "Unable to create initial file 'ro/" + kDataName + "'.";
    EXPECT_TRUE(initial.output.ends_with("Transfer Buffer.\n" + creation + "\n")) << initial.output;
    EXPECT_TRUE(ReadFile(dir / "VOR32.LOG").ends_with("Transfer Buffer.\r\n" + creation + "\r\n"));
}

} // namespace
} // namespace vor32_test
