// Failures of the real binary: data broken on purpose in the middle of a run, files that
// cannot be opened, written or read, and the exact report of each.
#include "test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vor32_test {
namespace {

// A run over A and B of a test's scratch directory that the test holds up in the middle: the output
// pipe is one page and nobody reads it, so the program waits in the console write of a transfer
// line. The data file at the target it stands at is then complete, closed and the larger of the
// two.
class HeldUpRun {
  public:
    // Starts with the test's options, which name the directory.
    HeldUpRun(const TempDir& dir, SpawnOptions options, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"400", "100000", "4", "A", "B", "/t"};
        args.insert(args.end(), extra.begin(), extra.end());
        options.pipeSize = 4096;
        process_ = std::make_unique<Vor32Process>(args, options);
        held_ = process_->WaitBlockedOnOutput();
        std::uintmax_t a = fs::file_size(dir / "A" / kDataName);
        std::uintmax_t b = fs::file_size(dir / "B" / kDataName);
        current_ = dir / (a > b ? "A" : "B") / kDataName;
        next_ = a > b ? "B" : "A";
        size_ = static_cast<std::uint32_t>(std::max(a, b));
    }
    bool held() const { return held_; }
    const fs::path& CurrentFile() const { return current_; }
    // The path the next transfer copies to, as the program names it.
    std::string NextPath() const { return next_ + "/" + kDataName; }
    std::uint32_t size() const { return size_; }
    Outcome Finish() { return process_->Finish(); }

  private:
    std::unique_ptr<Vor32Process> process_;
    bool held_ = false;
    fs::path current_;
    std::string next_;
    std::uint32_t size_ = 0;
};

void OverwriteCell(const fs::path& path, std::uint32_t index, std::uint32_t value) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(4 * static_cast<std::streamoff>(index));
    char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                     static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
    file.write(bytes, 4);
}

using Failure = Vor32Test;

TEST_F(Failure, WrongCellAtIndex31IsReportedAsCell1F) {
    HeldUpRun run(dir, options);
    ASSERT_TRUE(run.held());
    OverwriteCell(run.CurrentFile(), 31, 0xDEADBEEF);
    Outcome outcome = run.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 1));
    std::string report = "\nData Corruption: Cell# 1F (31d) in '" + run.NextPath() +
                         "' [Cell=4bytes]\nExpected: 1F,  Found: DEADBEEF\n";
    EXPECT_TRUE(outcome.output.ends_with("Secs\n" + report)) << outcome.output.substr(4000);
    // Without /v the report is on the console only: the log ends with the start-up block.
    EXPECT_EQ(MaskTimes(ReadFile(dir / "VOR32.LOG")), StartUpBlock(400, 100000, 4, 100000, true));
}

TEST_F(Failure, WrongCellIsInTheLogWithSwitchV) {
    HeldUpRun run(dir, options, {"/v"});
    ASSERT_TRUE(run.held());
    OverwriteCell(run.CurrentFile(), 31, 7);
    ASSERT_TRUE(ExitedWith(run.Finish(), 1));
    std::string log = ReadFile(dir / "VOR32.LOG");
    std::string report = "\nData Corruption: Cell# 1F (31d) in '" + run.NextPath() +
                         "' [Cell=4bytes]\r\nExpected: 1F,  Found: 7\r\n";
    EXPECT_TRUE(log.ends_with("Secs\r\n" + report)) << log.substr(log.size() - 300);
}

TEST_F(Failure, LastCellWrongIsFoundToo) {
    HeldUpRun run(dir, options);
    ASSERT_TRUE(run.held());
    std::uint32_t last = run.size() / 4 - 1;
    OverwriteCell(run.CurrentFile(), last, last + 1);
    Outcome outcome = run.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 1));
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "Cell# %X (%ud) in '%s' [Cell=4bytes]\nExpected: %X,  Found: %X\n", last, last,
                  run.NextPath().c_str(), last, last + 1);
    EXPECT_TRUE(outcome.output.ends_with(expected)) << outcome.output.substr(4000);
}

// One cell too many (the next one, appended) or one too few is reported by the file size.
using WrongSize = Vor32ParamTest<int>;

TEST_P(WrongSize, IsReportedBySize) {
    HeldUpRun run(dir, options);
    ASSERT_TRUE(run.held());
    std::uint32_t size = run.size();
    if (GetParam() > 0) {
        std::ofstream file(run.CurrentFile(), std::ios::binary | std::ios::app);
        file << Cells(size + 4).substr(size);
    } else {
        fs::resize_file(run.CurrentFile(), size - 4);
    }
    Outcome outcome = run.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_TRUE(outcome.output.ends_with("Secs\n\nActual file size (" +
                                         std::to_string(static_cast<long>(size) + GetParam()) +
                                         ") != Expected file size(" + std::to_string(size) + ")\n"))
        << outcome.output.substr(4000);
}

INSTANTIATE_TEST_SUITE_P(Failure, WrongSize, ::testing::Values(4, -4),
                         zebtest::Named([](int cells) {
                             return cells > 0 ? "OneCellTooMany" : "OneCellTooFew";
                         }));

TEST_F(Failure, DirectoryInPlaceOfTheDataFileIsRefusedForReading) {
    HeldUpRun run(dir, options);
    ASSERT_TRUE(run.held());
    // A directory opens for reading, but a data file must be a regular file.
    fs::remove(run.CurrentFile());
    fs::create_directory(run.CurrentFile());
    Outcome outcome = run.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_TRUE(outcome.output.ends_with("Secs\nUnable to open '" +
                                         fs::relative(run.CurrentFile(), dir.path()).string() +
                                         "' for reading.\n"))
        << outcome.output.substr(4000);
}

TEST_F(Failure, TwoTargetsNamingOneDirectoryRefuseTheDestination) {
    Outcome outcome = RunHere({"8", "16", "4", "A", "A/", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_TRUE(outcome.output.ends_with(kSeparators + "Unable to open 'A/" + kDataName +
                                         "' for writing.\n"))
        << outcome.output;
    // The refused open left the source untouched.
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(8));
}

TEST_F(Failure, InitialFileThatCannotBeCreatedIsLogged) {
    Outcome outcome = RunHere({"8", "16", "4", "missing", "B", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 1));
    std::string message = "Unable to create initial file 'missing/" + kDataName + "'.\n";
    EXPECT_TRUE(outcome.output.ends_with("Transfer Buffer.\n" + message)) << outcome.output;
    std::string log = ReadFile(dir / "VOR32.LOG");
    EXPECT_TRUE(log.ends_with("Transfer Buffer.\r\nUnable to create initial file 'missing/" +
                              kDataName + "'.\r\n"))
        << log;
}

TEST_F(Failure, DestinationThatCannotBeCreated) {
    Outcome outcome = RunHere({"8", "16", "4", "A", "missing", "/t", "/v"});
    ASSERT_TRUE(ExitedWith(outcome, 1));
    std::string message = "Unable to open 'missing/" + kDataName + "' for writing.\n";
    EXPECT_TRUE(outcome.output.ends_with(message)) << outcome.output;
    EXPECT_TRUE(ReadFile(dir / "VOR32.LOG")
                    .ends_with("Unable to open 'missing/" + kDataName + "' for writing.\r\n"));
}

TEST_F(Failure, LogHeldByAnotherOpenerIsNotCreatedNorEmptied) {
    WriteFile(dir / "VOR32.LOG", "keep");
    int held = open((dir / "VOR32.LOG").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    Outcome outcome = RunHere({"8", "16", "4", "A", "B", "/t"});
    close(held);
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_EQ(outcome.output, "Unable to create log file 'VOR32.LOG'.\n");
    EXPECT_EQ(ReadFile(dir / "VOR32.LOG"), "keep");
    EXPECT_FALSE(fs::exists(dir / "A" / kDataName));
}

// A log or data file that standard output is redirected to is already open in the shell's
// hands; writing it as well used to interleave the two writers into garbage.
TEST_F(Failure, FileThatIsStandardOutputIsHeldByAnotherOpener) {
    options.outputFile = dir / "VOR32.LOG";
    Outcome outcome = Vor32Process({"8", "16", "4", "A", "B", "/t", "/v"}, options).Finish();
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_EQ(ReadFile(dir / "VOR32.LOG"), "Unable to create log file 'VOR32.LOG'.\n");
    EXPECT_FALSE(fs::exists(dir / "A" / kDataName));

    TempDir data;
    data.Make({"A", "B"});
    options.cwd = data.path();
    options.outputFile = data / "B" / kDataName;
    ASSERT_TRUE(ExitedWith(Vor32Process({"8", "16", "4", "A", "B", "/t"}, options).Finish(), 1));
    std::string output = ReadFile(data / "B" / kDataName);
    EXPECT_TRUE(
        output.ends_with(kSeparators + "Unable to open 'B/" + kDataName + "' for writing.\n"))
        << output;
}

TEST_F(Failure, LogInAMissingDirectory) {
    Outcome outcome = RunHere({"8", "16", "4", "A", "B", "/l", "none/x.log"});
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_EQ(outcome.output, "Unable to create log file 'none/x.log'.\n");
}

struct FullDiskRun {
    Outcome outcome;
    std::string log; // VOR32.LOG as the run left it
};

// Runs vor32 in a fresh directory holding A, B and full/, a file system that is already full
// (one page of tmpfs, taken by a filler file), mounted in a mount namespace of the run's own.
FullDiskRun RunOnAFullDisk(const std::vector<std::string>& args) {
    const std::string mountFullTmpfs = "mount -t tmpfs -o size=4k none full && "
                                       "head -c 4096 /dev/zero >full/filler && "
                                       "mkdir full/T && exec \"$0\" \"$@\"";
    TempDir dir;
    dir.Make({"A", "B", "full"});
    SpawnOptions options;
    options.cwd = dir.path();
    options.launcher = {"/usr/bin/unshare", "--map-root-user", "--mount", "--propagation",
                        "private",          "/bin/sh",         "-c",      mountFullTmpfs};
    return {Vor32Process(args, options).Finish(), ReadFile(dir / "VOR32.LOG")};
}

// Writes that fail with a full disk, all in one test: the log, the initial file and a copy.
TEST_F(Failure, WritesToAFullDisk) {
    if (std::system("unshare --map-root-user --mount true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mount namespace for a full tmpfs here";
    }
    FullDiskRun log = RunOnAFullDisk({"8", "16", "4", "A", "B", "/l", "full/x.log"});
    ASSERT_TRUE(ExitedWith(log.outcome, 2));
    EXPECT_EQ(log.outcome.output,
              "\nData Copy Stress Test (Win32 Version)\nWrite to log file failed.\n");

    FullDiskRun initial = RunOnAFullDisk({"8", "16", "4", "full/T", "B", "/t"});
    ASSERT_TRUE(ExitedWith(initial.outcome, 1));
    EXPECT_TRUE(initial.outcome.output.ends_with(
        "Transfer Buffer.\nbRet = 0   gle=28\ndwBytesWritten (0) != dwCount (8)\n"))
        << initial.outcome.output;
    // The console-only line is not in the log; the report is (start-up logs everything).
    EXPECT_TRUE(initial.log.ends_with("Transfer Buffer.\r\ndwBytesWritten (0) != dwCount (8)\r\n"));

    FullDiskRun copy = RunOnAFullDisk({"8", "16", "4", "A", "full/T", "/t"});
    ASSERT_TRUE(ExitedWith(copy.outcome, 1));
    EXPECT_TRUE(
        copy.outcome.output.ends_with(kSeparators + "dwBytesWritten (0) != dwBytesRead (8)\n"))
        << copy.outcome.output;
}

} // namespace
} // namespace vor32_test
