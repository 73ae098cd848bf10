// vor32 on a real SMB share (smbd in a namespace of its own, mounted through a FUSE client):
// the log and every data file are created on the share, and every copy is verified.
#include "smb_server.h"
#include "test_support.h"

namespace vor32_test {
namespace {

TEST(SmbShare, RunToMaxSizeEndsWithEveryCopyVerified) {
    std::string whyNot;
    std::unique_ptr<zebtest::SmbServer> server =
        zebtest::SmbServer::Start(&whyNot, {.mount = true});
    if (!server) {
        GTEST_SKIP() << whyNot;
    }
    const fs::path& backing = server->BackingDirectory();
    fs::create_directories(backing / "a");
    fs::create_directories(backing / "b");
    SpawnOptions options;
    options.launcher = server->Launcher();
    // The run's directory is the share, which exists only inside the mount namespace.
    options.launcher.insert(options.launcher.end(),
                            {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", server->SharePath()});
    Outcome outcome =
        Vor32Process({"1000", "40000", "1000", "a/", "b/", "/t"}, options).Finish(300000);
    ASSERT_TRUE(ExitedWith(outcome, 0));
    // The initial file of 1000 bytes, then one transfer per size from 2000 to 40000, each copy
    // read back and checked cell by cell.
    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), 39u) << outcome.output;
    EXPECT_EQ(transfers.back().size, 40000);
    EXPECT_EQ(outcome.output.find("Corruption"), std::string::npos);
    // The server holds the log and both data files whole.
    EXPECT_TRUE(ReadFile(backing / "VOR32.LOG").ends_with("\r\n"));
    EXPECT_EQ(ReadFile(backing / "a" / kDataName), Cells(40000));
    EXPECT_EQ(ReadFile(backing / "b" / kDataName), Cells(40000));
}

} // namespace
} // namespace vor32_test
