// zebcli's file I/O stress against a real SMB server (smbd in a namespace of its own, its
// share mounted through a FUSE client): with --cache drop and --cache direct every pass
// reaches the server, and a byte broken in the server's copy is found and the file rebuilt.
#include "files.h"
#include "smb_server.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every number the JSON summary gives for name, in order.
std::vector<std::uint64_t> JsonNumbers(const std::string& json, const std::string& name) {
    std::vector<std::uint64_t> numbers;
    const std::regex field("\"" + name + "\": ([0-9]+)");
    for (std::sregex_iterator it(json.begin(), json.end(), field), end; it != end; ++it) {
        numbers.push_back(std::stoull((*it)[1]));
    }
    return numbers;
}

class SmbFileIo : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = zebtest::SmbServer::Start(&whyNot_, {.mount = true}).release();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_ == nullptr) {
            GTEST_SKIP() << whyNot_;
        }
    }

    // zebcli fileio on the share's T.TST with the extra arguments; the JSON summary is kept
    // in the share's backing directory (written there by the server) and returned in *json.
    zebtest::Outcome FileIo(const std::vector<std::string>& extra, std::string* json) {
        std::vector<std::string> command = {ZEBCLI_PATH, "fileio",
                                            (server_->SharePath() / "T.TST").string(), "--json",
                                            (server_->SharePath() / "run.json").string()};
        command.insert(command.end(), extra.begin(), extra.end());
        zebtest::Outcome result = server_->Run(command, 300000);
        *json = zebtest::ReadFile(server_->BackingDirectory() / "run.json");
        return result;
    }

    static zebtest::SmbServer* server_;
    static std::string whyNot_;
};

zebtest::SmbServer* SmbFileIo::server_ = nullptr;
std::string SmbFileIo::whyNot_;

TEST_F(SmbFileIo, DropPassesEveryAccessPatternAtTwoBufferSizes) {
    for (const char* mode :
         {"Sequential Read", "Sequential Write", "Sequential R & W", "Random Read", "Random Write",
          "Random R & W", "Overlay Read", "Overlay Write", "Overlay R & W"}) {
        std::string json;
        zebtest::Outcome result =
            FileIo({"--mode", mode, "--from", "1000", "--to", "32000", "--inc", "31000",
                    "--iterations", "60", "--cache", "drop"},
                   &json);
        ASSERT_TRUE(result.exited) << mode;
        EXPECT_EQ(result.code, 0) << mode << "\n" << result.output;
        EXPECT_EQ(JsonNumbers(json, "buffer_size"), (std::vector<std::uint64_t>{1000, 32000}))
            << mode;
        EXPECT_NE(json.find("\"cache\": \"drop\""), std::string::npos) << json;
    }
}

// The 2,000 x 32,000-byte Random Read pass: the server reads at least every byte the pass
// read (its file reads and the requests on its socket are both in its rchar).
TEST_F(SmbFileIo, ServerReadsEveryByteThePassReadsWithDropAndDirect) {
    for (const char* cache : {"drop", "direct"}) {
        std::string json;
        const std::uint64_t before = server_->ServerBytesRead();
        zebtest::Outcome result = FileIo({"--mode", "Random Read", "--from", "32000", "--to",
                                          "32000", "--iterations", "2000", "--cache", cache},
                                         &json);
        const std::uint64_t served = server_->ServerBytesRead() - before;
        ASSERT_TRUE(result.exited) << cache;
        EXPECT_EQ(result.code, 0) << cache << "\n" << result.output;
        const std::vector<std::uint64_t> read = JsonNumbers(json, "process_bytes_read");
        ASSERT_EQ(read.size(), 1u) << json;
        EXPECT_GE(read[0], 2000u * 32000u) << cache;
        EXPECT_GE(served, read[0]) << cache << ": the pass read " << read[0];
        std::printf("[ %-6s ] the pass read %llu bytes, the server %llu\n", cache,
                    static_cast<unsigned long long>(read[0]),
                    static_cast<unsigned long long>(served));
        // The record names the file system the passes ran on.
        EXPECT_NE(json.find("\"type\": \"fuse.smbnetfs\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"source\": \"smbnetfs\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"mount_point\": \"" +
                            server_->SharePath().parent_path().parent_path().string() + "\""),
                  std::string::npos)
            << json;
    }
}

// A byte broken in the server's copy between two passes is found by the next pass's check
// (which reads through the client's cache in plain mode and would miss it), and the test
// file is rebuilt on the server.
TEST_F(SmbFileIo, ByteBrokenOnTheServerIsFoundAndTheFileRebuilt) {
    std::string json;
    const std::vector<std::string> pass = {
        "--mode", "Sequential Read", "--from", "4000",    "--to",
        "4000",   "--iterations",    "20",     "--cache", "drop"};
    zebtest::Outcome first = FileIo(pass, &json);
    ASSERT_TRUE(first.exited);
    ASSERT_EQ(first.code, 0) << first.output;
    const fs::path copy = server_->BackingDirectory() / "T.TST";
    {
        std::fstream file(copy, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(300001);
        file.put('\x07');
    }
    zebtest::Outcome second = FileIo(pass, &json);
    ASSERT_TRUE(second.exited);
    EXPECT_EQ(second.code, 1) << second.output;
    EXPECT_NE(second.output.find("TESTFILE corrupted, Reconstructing .."), std::string::npos)
        << second.output;
    // Rebuilt through the share, which cuts the file before writing it anew.
    EXPECT_EQ(second.output.find("file handle invalid"), std::string::npos) << second.output;
    EXPECT_TRUE(zebtest::ReadFile(copy) == zebtest::EngineTestFile());
}

} // namespace
