// vor32 on a real SMB share (smbd in a namespace of its own, mounted through a FUSE client):
// the log and every data file are created on the share, and every copy is verified; where the
// client keeps its page cache, the checks still read what the server holds.
#include "smb_server.h"
#include "test_support.h"

namespace vor32_test {
namespace {

// The options that run vor32 in the share's directory, which exists only inside the mount
// namespace.
SpawnOptions OnTheShare(const zebtest::SmbServer& server) {
    SpawnOptions options;
    options.launcher = server.Launcher();
    options.launcher.insert(options.launcher.end(),
                            {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", server.SharePath()});
    return options;
}

std::unique_ptr<zebtest::SmbServer> MountedShare(zebtest::SmbServerOptions options,
                                                 std::string* whyNot) {
    options.mount = true;
    std::unique_ptr<zebtest::SmbServer> server = zebtest::SmbServer::Start(whyNot, options);
    if (server) {
        fs::create_directories(server->BackingDirectory() / "a");
        fs::create_directories(server->BackingDirectory() / "b");
    }
    return server;
}

TEST(SmbShare, RunToMaxSizeEndsWithEveryCopyVerified) {
    std::string whyNot;
    std::unique_ptr<zebtest::SmbServer> server = MountedShare({}, &whyNot);
    if (!server) {
        GTEST_SKIP() << whyNot;
    }
    const fs::path& backing = server->BackingDirectory();
    Outcome outcome = Vor32Process({"1000", "40000", "1000", "a/", "b/", "/t"}, OnTheShare(*server))
                          .Finish(300000);
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

// The bytes a run to MaxSize with /t reads back: the initial file, then every copy, the last
// one (at the first size not below MaxSize) included.
std::uint64_t BytesVerified(std::uint64_t minSize, std::uint64_t maxSize, std::uint64_t increment) {
    std::uint64_t total = minSize;
    std::uint64_t size = minSize;
    for (;; size += increment) {
        total += size;
        if (size >= maxSize) {
            return total;
        }
    }
}

struct CacheRow {
    std::string name;
    std::vector<std::string> switches;
    bool readsFromServer; // the checks reach the server, and the start-up block says so
};

class CachedShare : public ::testing::TestWithParam<CacheRow> {};

// With kernel_cache the FUSE client keeps the pages a copy has just written: only the drop
// after each copy makes the check's reads reach smbd. Switched off, the server reads a small
// part of what is checked, which shows that the count can tell the two apart.
TEST_P(CachedShare, ChecksReadWhatTheServerHolds) {
    const CacheRow& row = GetParam();
    std::string whyNot;
    std::unique_ptr<zebtest::SmbServer> server = MountedShare({.kernelCache = true}, &whyNot);
    if (!server) {
        GTEST_SKIP() << whyNot;
    }
    std::vector<std::string> args = {"100000", "2000000", "100000", "a/", "b/", "/t"};
    args.insert(args.end(), row.switches.begin(), row.switches.end());
    const std::uint64_t before = server->ServerBytesRead();
    Outcome outcome = Vor32Process(args, OnTheShare(*server)).Finish(300000);
    const std::uint64_t serverRead = server->ServerBytesRead() - before;
    ASSERT_TRUE(ExitedWith(outcome, 0)) << outcome.output;
    const std::uint64_t verified = BytesVerified(100000, 2000000, 100000);
    const bool said = outcome.output.find("read from its server (FUSE)") != std::string::npos;
    EXPECT_EQ(said, row.readsFromServer) << outcome.output;
    EXPECT_EQ(outcome.output.find("Warning: the client keeps"), std::string::npos)
        << outcome.output;
    RecordProperty("bytesVerified", std::to_string(verified));
    RecordProperty("serverBytesRead", std::to_string(serverRead));
    if (row.readsFromServer) {
        EXPECT_GE(serverRead, verified);
    } else {
        EXPECT_LT(serverRead, verified / 4);
    }
    EXPECT_EQ(ReadFile(server->BackingDirectory() / "b" / kDataName), Cells(2000000));
}

INSTANTIATE_TEST_SUITE_P(KernelCache, CachedShare,
                         ::testing::Values(CacheRow{"ByFileSystem", {}, true},
                                           CacheRow{"SwitchedOff", {"/k"}, false}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vor32_test
