// zebcli fileio --cache direct where the test file's file system cannot take it: refused
// before the first pass with the file system named, and nothing run.
#include "process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/zebcache.XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A file system without O_DIRECT (ramfs), mounted in a mount namespace of the run's own.
TEST(DirectCache, RefusedWhereTheFileSystemRefusesODirect) {
    ScratchDir dir;
    const std::string testFile = (dir.path() / "T.TST").string();
    zebtest::Outcome result = zebtest::Run(
        {"unshare", "--mount", "--propagation", "private", "sh", "-c",
         "mount -t ramfs none \"$0\" 2>/dev/null || exit 99; exec \"$@\"", dir.path().string(),
         ZEBCLI_PATH, "fileio", testFile, "--cache", "direct", "--from", "4096", "--to", "4096"},
        zebtest::JoinedOutput());
    ASSERT_TRUE(result.exited);
    if (result.code == 99 || (result.code != 0 && result.output.find("unshare") == 0)) {
        GTEST_SKIP() << "no private ramfs mount here (root needed): " << result.output;
    }
    EXPECT_EQ(result.code, 64);
    // Only the refusal: no pass ran, so nothing else was printed.
    EXPECT_EQ(result.output,
              "zebcli: --cache direct: the test file's file system (ramfs) refuses O_DIRECT; "
              "nothing was run\n");
}

// A disk file system takes O_DIRECT only in blocks of its logical sector, which the test
// file's creation chunks (65534 bytes) never are.
TEST(DirectCache, RefusedWhereTheFileSystemNeedsCoarserAlignment) {
    ScratchDir dir;
    const std::string testFile = (dir.path() / "T.TST").string();
    struct statx sx {};
    const fs::path other = dir.path() / "other";
    const int probe = ::open(other.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(probe, 0);
    const bool reported = ::statx(probe, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 &&
                          (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align > 2;
    ::close(probe);
    fs::remove(other);
    if (!reported) {
        GTEST_SKIP() << dir.path() << " needs no O_DIRECT alignment coarser than 2 bytes";
    }
    zebtest::Outcome type = zebtest::Run({"findmnt", "-n", "-o", "FSTYPE", "--target", dir.path()});
    ASSERT_EQ(type.code, 0);
    type.output.pop_back();
    zebtest::Outcome result = zebtest::Run(
        {ZEBCLI_PATH, "fileio", testFile, "--cache", "direct", "--from", "4096", "--to", "4096"},
        zebtest::JoinedOutput());
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.code, 64);
    EXPECT_EQ(result.output, "zebcli: --cache direct: the test file's file system (" + type.output +
                                 ") needs O_DIRECT transfers aligned to " +
                                 std::to_string(sx.stx_dio_offset_align) +
                                 " bytes, and this run's transfers of 65534 bytes are not; "
                                 "nothing was run\n");
    EXPECT_FALSE(fs::exists(testFile));
    EXPECT_TRUE(fs::is_empty(dir.path())); // the probe beside the test file is gone
}

} // namespace
