// zebcli's file I/O stress through its own SMB and NFS clients (smb:// and nfs:// test files),
// against real servers in network namespaces of their own: smbd and nfs-ganesha. The same
// cases run through both.
#include "files.h"
#include "servers.h"
#include "smb_server.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using zebcli_test::Server;

// zebcli fileio against one of the servers, its results in a JSON file of the test's own.
class ServerTest : public ::testing::Test {
  protected:
    static void TearDownTestSuite() { zebcli_test::EndServers(); }
    // The server of backend, or the test skipped with the reason.
    void Use(const std::string& backend) {
        std::string whyNot;
        server_ = zebcli_test::Started(backend, &whyNot);
        if (!server_) {
            GTEST_SKIP() << whyNot;
        }
    }

    void TearDown() override { fs::remove(json_); }

    std::vector<std::string> Command(const std::string& url,
                                     const std::vector<std::string>& extra) {
        std::vector<std::string> command = server_->launcher;
        command.insert(command.end(), {ZEBCLI_PATH, "fileio", url, "--json", json_.string()});
        command.insert(command.end(), extra.begin(), extra.end());
        return command;
    }
    // zebcli fileio on url, the password of the SMB share in PASSWD unless one is given.
    zebtest::Outcome FileIo(const std::string& url, const std::vector<std::string>& extra,
                            const std::string& password = zebtest::SmbServer::Password()) {
        return zebtest::Run(Command(url, extra), zebtest::JoinedOutput({"PASSWD=" + password}),
                            300000);
    }

    std::optional<Server> server_;
    fs::path json_ =
        fs::temp_directory_path() / ("zebcli-server-" + std::to_string(getpid()) + ".json");
};

class ServerFileIo : public ServerTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override { Use(GetParam()); }
};

TEST_P(ServerFileIo, SweepLeavesTheExactTestFileAndTheServerReadsEveryByteOfAPass) {
    zebtest::Outcome sweep =
        FileIo(server_->url, {"--mode", "Random R & W", "--from", "4000", "--to", "32000", "--inc",
                              "28000", "--iterations", "200"});
    ASSERT_TRUE(sweep.exited);
    EXPECT_EQ(sweep.code, 0) << sweep.output;
    const auto target = nlohmann::json::parse(zebtest::ReadFile(json_))["target"];
    EXPECT_EQ(target["backend"], GetParam()) << target;
    EXPECT_EQ(target["server"], "127.0.0.1") << target;
    EXPECT_EQ(target["cache"], "none") << target;
    // Blocks written anew start their pairs at the block: the file holds good pairs
    // throughout, at its exact size.
    const std::string copy = zebtest::ReadFile(server_->backing / "T.TST");
    ASSERT_EQ(copy.size(), zebtest::EngineTestFile().size());
    for (std::size_t i = 0; i < copy.size(); i += 2) {
        ASSERT_EQ(static_cast<unsigned char>(copy[i + 1]),
                  255 - static_cast<unsigned char>(copy[i]))
            << "pair at " << i;
    }

    // This time the password comes from an authentication file.
    const fs::path credentials = fs::temp_directory_path() / "zebcli-server-credentials";
    std::ofstream(credentials) << "username = root\npassword = " << zebtest::SmbServer::Password()
                               << "\n";
    const std::uint64_t before = server_->bytesRead();
    zebtest::Outcome pass =
        FileIo(server_->url,
               {"--mode", "Random Read", "--from", "32000", "--to", "32000", "--iterations", "500",
                "--authentication-file", credentials.string()},
               "");
    const std::uint64_t served = server_->bytesRead() - before;
    fs::remove(credentials);
    EXPECT_EQ(pass.code, 0) << pass.output;
    EXPECT_GE(served, 500u * 32000u + zebtest::EngineTestFile().size());
    std::printf("[ %s ] a 500 x 32,000-byte Random Read pass: the server read %llu bytes\n",
                GetParam(), static_cast<unsigned long long>(served));
}

TEST_P(ServerFileIo, ByteBrokenOnTheServerIsFoundAndTheFileRebuilt) {
    const std::vector<std::string> pass = {"--mode", "Sequential Read", "--from", "4000", "--to",
                                           "4000",   "--iterations",    "20"};
    ASSERT_EQ(FileIo(server_->url, pass).code, 0);
    {
        std::fstream file(server_->backing / "T.TST",
                          std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(300001);
        file.put('\x07');
    }
    zebtest::Outcome second = FileIo(server_->url, pass);
    EXPECT_EQ(second.code, 1) << second.output;
    EXPECT_NE(second.output.find("TESTFILE corrupted, Reconstructing .."), std::string::npos)
        << second.output;
    EXPECT_TRUE(zebtest::ReadFile(server_->backing / "T.TST") == zebtest::EngineTestFile());
}

// Each refused open: the failed open's reports, the cause on standard error, nothing made on
// the server.
TEST_P(ServerFileIo, RefusedOpenSaysWhyAndCreatesNothing) {
    for (std::size_t row = 0; row < server_->refused.size(); ++row) {
        const auto& [url, cause] = server_->refused[row];
        // The first row with a wrong password, which NFS does not use.
        zebtest::Outcome refused =
            FileIo(url, {"--from", "4000", "--to", "4000"},
                   row == 0 ? "not-the-password" : zebtest::SmbServer::Password());
        EXPECT_NE(refused.output.find("Can not open " + url), std::string::npos) << refused.output;
        EXPECT_NE(refused.output.find(std::string(url).append(": ").append(cause)),
                  std::string::npos)
            << refused.output;
        EXPECT_EQ(refused.output.find("not-the-password"), std::string::npos);
        EXPECT_FALSE(fs::exists(server_->backing / "W.TST")) << url;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(server_->backing), fs::directory_iterator()),
              fs::exists(server_->backing / "T.TST") ? 1 : 0);
}

// The server by its IPv6 address in brackets (the scheme in capitals, too).
TEST_P(ServerFileIo, PassOverIpv6) {
    zebtest::Outcome pass = FileIo(server_->ipv6Url, {"--from", "4000", "--to", "4000"});
    EXPECT_EQ(pass.code, 0) << pass.output;
    EXPECT_EQ(nlohmann::json::parse(zebtest::ReadFile(json_))["target"]["server"], "::1");
}

// The server frozen in the middle of a long pass that writes: the pass ends with its error
// reports, its check of the test file included, within the bound the README states for a
// server that stops answering.
TEST_P(ServerFileIo, ServerStoppedDuringAPassEndsItWithReportsInBoundedTime) {
    ASSERT_EQ(FileIo(server_->url, {"--from", "4000", "--to", "4000", "--iterations", "2"}).code,
              0);
    zebtest::ProcessOptions options;
    options.env = {"PASSWD=" + zebtest::SmbServer::Password()};
    options.errorsToOutput = true;
    zebtest::Process run(Command(server_->url, {"--mode", "Random R & W", "--from", "4000", "--to",
                                                "4000", "--iterations", "32000"}),
                         options);
    ASSERT_TRUE(run.ReadUntil("Test File:", 30000)) << run.Output();
    server_->stop();
    const auto stopped = std::chrono::steady_clock::now();
    const bool ended = run.ReadUntil("File I/O Failed\n", 120000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    server_->resume();
    EXPECT_TRUE(ended) << run.Output();
    // The transfer that lost the server is reported, and the loop ends there; the check after
    // the pass cannot read the file.
    EXPECT_TRUE(run.Output().find("WRITE_ERROR at offset") != std::string::npos ||
                run.Output().find("READ_ERROR at offset") != std::string::npos)
        << run.Output();
    EXPECT_NE(run.Output().find("VERIFY_ERROR at file offset"), std::string::npos) << run.Output();
    std::printf("[ %s ] the pass ended %.1f s after the server stopped\n", GetParam(), seconds);
    EXPECT_LT(seconds, 20.0); // the bound the README states
    run.Finish(60000);
}

class SmbLogon : public ServerTest {
  protected:
    void SetUp() override { Use("smb"); }
};

// An authentication file's user logs on where the URL names none, though it is not the login
// user: the share's second user makes the test file as the system user it works as. The same
// file with a user the server does not know is refused, and nothing is made.
TEST_F(SmbLogon, TheAuthenticationFilesUserCountsWhereTheUrlNamesNone) {
    const zebtest::SmbServer::Account other = zebtest::SmbServer::OtherUser();
    const passwd* account = getpwnam(other.systemUser.c_str());
    ASSERT_NE(account, nullptr) << other.systemUser;
    const uid_t owner = account->pw_uid;
    const fs::path credentials =
        fs::temp_directory_path() / ("zebcli-logon-" + std::to_string(getpid()));
    const std::string url = "smb://127.0.0.1/share/U.TST";
    const fs::path made = server_->backing / "U.TST";
    for (const auto& [user, logsOn] :
         {std::pair<std::string, bool>{other.name, true}, {"zebstranger", false}}) {
        std::ofstream(credentials)
            << "username = " << user << "\npassword = " << other.password << "\n";
        zebtest::Outcome pass =
            FileIo(url,
                   {"--mode", "Random Write", "--from", "4000", "--to", "4000", "--iterations",
                    "20", "--authentication-file", credentials.string()},
                   "");
        struct stat st {};
        if (logsOn) {
            EXPECT_TRUE(zebtest::ExitedWith(pass, 0)) << user;
            ASSERT_EQ(stat(made.c_str(), &st), 0) << pass.output;
            EXPECT_EQ(st.st_uid, owner)
                << "made by uid " << st.st_uid << ", not by " << other.systemUser;
        } else {
            EXPECT_NE(pass.output.find(url + ": logon failure"), std::string::npos) << pass.output;
            EXPECT_NE(stat(made.c_str(), &st), 0) << user << " made " << made;
        }
        fs::remove(made);
    }
    fs::remove(credentials);
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerFileIo, ::testing::Values("smb", "nfs"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
