// Faults of the engine's two outputs under a running engine: report.txt in a directory that
// cannot be written, the compatibility log on a file system that fills up, and the log
// written by two processes at once. Records are dropped, never cut or interleaved, and the
// test goes on. Small file systems are tmpfs mounts in a mount namespace of the test
// process's own (skipped where that is not permitted).

#include "compatlog.h"
#include "engine_test_util.h"
#include "status.h"

using namespace zebtest;
namespace {

TEST(ReportFault, ReadOnlyDirectoryDropsTheRecordsAndThePassGoesOn) {
    Scratch scratch;
    const auto ro = scratch.Path("ro");
    std::filesystem::create_directory(ro);
    if (std::string why = MountTmpfs(ro, "size=64k", MS_RDONLY); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string testFile = scratch.Path("TESTFILE").string();
    int status = InChild([&] {
        std::filesystem::current_path(ro); // report.txt goes here, and cannot be created
        PassSaveResult(1);
        EXPECT_EQ(SQL_Test(testFile.c_str(), 4096, 4096, 1, 4, 20), 0);
        EXPECT_EQ(GetRetCode(), ZEB_RESULT_PASSED) << "a dropped record is no failure";
        PostFailure("failure while report.txt is out of reach");
        EXPECT_EQ(GetRetCode(), ZEB_RESULT_FAILED);
        // Writable again: the next record is appended as usual.
        EXPECT_EQ(mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT, "size=64k"), 0)
            << std::strerror(errno);
        PostStatus("back again", LEVEL_PROGRESS);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadLines(ro / "report.txt"), Texts{"back again"});
    umount2(ro.c_str(), MNT_DETACH);
    EXPECT_EQ(std::filesystem::file_size(testFile), 1048544u) << "the pass ran";
    // The failure still reached the compatibility log, after the pass's range heading.
    const Texts log = DecodeLog(scratch.Log());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "failure while report.txt is out of reach\n\r\n");
}

TEST(CompatLogFault, FullFileSystemDropsWholeRecordsAndLaterOnesStayAligned) {
    Scratch scratch;
    const auto ctlogs = scratch.Log().parent_path();
    if (std::string why = MountTmpfs(ctlogs, "size=8k"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // Records of different lengths until the file system is full, and well beyond.
    Texts written;
    for (int i = 0; i < 400; ++i) {
        std::string text = "record " + std::to_string(i) + " " + std::string(i % 97, 'x');
        CompatLogPrintf("%s", text.c_str());
        written.push_back(text + "\r\n");
    }
    const Texts kept = DecodeLog(scratch.Log()); // fails the test on any cut record
    ASSERT_GT(kept.size(), 10u);
    ASSERT_LT(kept.size(), written.size()) << "the file system never filled up";
    // What was kept are whole records of what was written, in order; a short record may
    // still fit where a longer one did not.
    std::size_t at = 0;
    for (const std::string& k : kept) {
        at = std::find(written.begin() + at, written.end(), k) - written.begin();
        ASSERT_LT(at, written.size()) << "not written, or out of order: " << k;
        ++at;
    }
    // Room again: the next record follows the last whole one.
    std::filesystem::resize_file(scratch.Log(), 0);
    CompatLogPrintf("%s", "after");
    EXPECT_EQ(DecodeLog(scratch.Log()), Texts{"after\r\n"});
    umount2(ctlogs.c_str(), MNT_DETACH);
}

// The text of record i of writer who.
std::string WriterRecord(char who, int i) {
    return std::string(1, who) + " " + std::to_string(i) + " " +
           std::string(static_cast<std::size_t>(i % 250), who);
}

TEST(CompatLogFault, TwoProcessesWritingAtOnceNeverInterleaveRecords) {
    Scratch scratch;
    // Each writer starts when the pipe opens, to make their records meet.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    auto writer = [&](char who) {
        return [&, who] {
            char byte;
            close(go[1]);
            EXPECT_EQ(read(go[0], &byte, 1), 0);
            for (int i = 0; i < 500; ++i) {
                CompatLogPrintf("%s", WriterRecord(who, i).c_str());
            }
        };
    };
    const pid_t children[] = {StartChild(writer('A')), StartChild(writer('B'))};
    close(go[0]);
    close(go[1]);
    for (pid_t pid : children) {
        EXPECT_EQ(WaitChild(pid), 0);
    }
    // Every record whole and one writer's own; each writer's records in order, none twice.
    // A writer that finds the log busy loses that record, so some may be missing.
    const Texts records = DecodeLog(scratch.Log());
    int last[2] = {-1, -1};
    int count[2] = {0, 0};
    for (const std::string& r : records) {
        ASSERT_GE(r.size(), 5u);
        const char who = r[0];
        ASSERT_TRUE(who == 'A' || who == 'B') << r;
        const int i = std::stoi(r.substr(2));
        EXPECT_EQ(r, WriterRecord(who, i) + "\r\n");
        EXPECT_GT(i, last[who - 'A']) << r;
        last[who - 'A'] = i;
        ++count[who - 'A'];
    }
    // A writer that finds the log held at every one of its attempts loses all its records;
    // whenever one is refused, the other writer's record is being written, so the log is never
    // empty.
    EXPECT_GT(count[0] + count[1], 0);
}

} // namespace
