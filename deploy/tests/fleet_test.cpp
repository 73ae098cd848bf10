// mpirun on this host and across hosts that are network namespaces (testsupport/hosts/), and
// the playbook of deploy/ansible/ against those hosts: where the ranks ran, what each host's
// report says, what came back to the controller.
#include "files.h"
#include "netns.h"
#include "process.h"
#include "smb_server.h"
#include "test_hosts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using zebtest::TestHosts;

constexpr int kJobMs = 60000;                // one MPI job, ssh and start-up included
constexpr long long kBarrierUs = 30'000'000; // a rank's wait at the barrier, at most

// Where fleet_probe's ranks ran, from rank 0's lines: a failure unless there is a line for
// each rank 0..N-1 of "ranks N", and each rank's wait is within the job's time; else, in
// *hosts, how many ranks each host ran.
testing::AssertionResult RanksOf(const std::string& output, std::map<std::string, int>* hosts) {
    std::istringstream lines(output);
    int count = -1;
    int rank = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string word;
        if (fields >> word && word == "ranks") {
            fields >> count;
            continue;
        }
        int number = -1;
        std::string host;
        std::string label;
        long long waited = -1;
        if (word != "rank") {
            continue; // mpirun's own notices
        }
        if (!(fields >> number >> label >> host >> word >> waited) || number != rank ||
            label != "host" || word != "barrier_us" || waited < 0 || waited > kBarrierUs) {
            return testing::AssertionFailure() << "rank " << rank << " wrong: " << line << "\n"
                                               << output;
        }
        ++(*hosts)[host];
        ++rank;
    }
    if (count < 1 || rank != count) {
        return testing::AssertionFailure() << rank << " rank lines for \"ranks " << count << "\":\n"
                                           << output;
    }
    return testing::AssertionSuccess();
}

// Why a case cannot run for want of program ("" when it is installed).
std::string Missing(const std::string& program) {
    return zebtest::FindProgram(program).empty()
               ? program + " is not installed (scripts/deps.sh test); skipped"
               : "";
}

std::string ThisHost() {
    std::string name(256, '\0');
    gethostname(name.data(), name.size() - 1);
    name.resize(name.find('\0'));
    return name;
}

// mpirun alone on this host: four ranks on two cores, their traffic on loopback only.
TEST(MpiOnThisHost, FourRanksRunHere) {
    if (std::string why = Missing("mpirun"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    zebtest::TempDir work("zebmpi");
    std::vector<std::string> argv = {"mpirun", "--oversubscribe", "-np", "4"};
    if (geteuid() == 0) {
        argv.emplace_back("--allow-run-as-root"); // Open MPI refuses root without it
    }
    argv.insert(argv.end(), {"--mca", "oob_tcp_if_include", "lo", "--mca", "btl", "self,vader",
                             "--mca", "pml", "ob1", ZEB_FLEET_PROBE});
    zebtest::ProcessOptions options;
    options.cwd = work.path();
    const zebtest::Outcome ran = zebtest::Run(argv, options, kJobMs);
    ASSERT_TRUE(zebtest::ExitedWith(ran, 0)) << ran.errors;
    std::map<std::string, int> hosts;
    ASSERT_TRUE(RanksOf(ran.output, &hosts));
    EXPECT_EQ(hosts, (std::map<std::string, int>{{ThisHost(), 4}}));
    EXPECT_EQ(zebtest::ReadFile(work / "report.txt"), "host " + ThisHost() + " ranks 0 1 2 3\n");
}

// Two hosts of a test LAN, shared by the cases (each sshd takes a second to come up).
class Lan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { hosts_ = TestHosts::Start(&whyNot_).release(); }
    static void TearDownTestSuite() {
        delete hosts_;
        hosts_ = nullptr;
    }
    void SetUp() override {
        if (hosts_ == nullptr) {
            GTEST_SKIP() << "no test hosts: " << whyNot_;
        }
        for (int i = 0; i < hosts_->Count(); ++i) {
            std::filesystem::remove(hosts_->WorkOf(i) / "report.txt");
        }
    }
    static TestHosts* hosts_;
    static std::string whyNot_;
};

TestHosts* Lan::hosts_ = nullptr;
std::string Lan::whyNot_;

// Each host answers by ssh under its own name and address, has no route off the LAN, and
// runs zebcli against an SMB server in a namespace of its own on the LAN (its password in a
// file, never on a command line).
TEST_F(Lan, SshReachesEachHostAndEachReachesTheSmbServer) {
    std::string why;
    std::unique_ptr<zebtest::SmbServer> server =
        zebtest::SmbServer::Start(&why, {.lan = hosts_->ServerPort(0)});
    if (server == nullptr) {
        GTEST_SKIP() << "no SMB server on the LAN: " << why;
    }
    const std::filesystem::path credentials = hosts_->Directory() / "smb.auth";
    zebtest::WriteFile(credentials,
                       "username = root\npassword = " + zebtest::SmbServer::Password() + "\n");
    std::filesystem::permissions(credentials, std::filesystem::perms::owner_read);
    for (int i = 0; i < hosts_->Count(); ++i) {
        const std::string& name = hosts_->Name(i);
        const zebtest::Outcome seen = hosts_->Run(
            i, "hostname; ip -4 -o addr show dev eth0; echo routes; ip route; echo smb; " +
                   std::string(ZEBCLI_PATH) +
                   " fileio -q --mode 0 --from 4096 --to 4096 --iterations 20 "
                   "--authentication-file " +
                   credentials.string() + " smb://" + TestHosts::ServerAddress(0) + "/share/T" +
                   name + ".TST && echo passed");
        ASSERT_TRUE(zebtest::ExitedWith(seen, 0));
        EXPECT_TRUE(seen.output.starts_with(name + "\n")) << seen.output;
        EXPECT_NE(seen.output.find(" inet " + TestHosts::AddressOf(i) + "/24 "), std::string::npos)
            << seen.output;
        EXPECT_EQ(seen.output.find("default"), std::string::npos) << seen.output;
        EXPECT_TRUE(seen.output.ends_with("passed\n")) << seen.output;
        // The server holds the test file the host made (a read pass leaves it as made).
        const std::string file =
            zebtest::ReadFile(server->BackingDirectory() / ("T" + name + ".TST"));
        EXPECT_EQ(file.size(), zebtest::EngineTestFile().size()) << name;
        EXPECT_TRUE(file == zebtest::EngineTestFile()) << name << ": not the engine's test file";
    }
}

// The job from the first host, its ranks on both: two on each, each host's report in its own
// work directory.
TEST_F(Lan, MpirunRunsTwoRanksOnEachHost) {
    if (std::string why = Missing("mpirun"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string ssh = "ssh -F " + hosts_->SshConfig().string();
    const std::string subnet = TestHosts::Subnet();
    const std::string mpirun = "cd " + hosts_->WorkPath().string() +
                               " && mpirun --allow-run-as-root --oversubscribe -np 4 --host " +
                               hosts_->Name(0) + ":2," + hosts_->Name(1) +
                               ":2 --mca plm_rsh_agent '" + ssh + "' --mca oob_tcp_if_include " +
                               subnet + " --mca btl_tcp_if_include " + subnet +
                               " --mca btl tcp,vader,self --mca pml ob1 " + ZEB_FLEET_PROBE;
    const auto start = std::chrono::steady_clock::now();
    const zebtest::Outcome ran = hosts_->Run(0, mpirun, kJobMs);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(zebtest::ExitedWith(ran, 0)) << mpirun;
    std::map<std::string, int> hosts;
    ASSERT_TRUE(RanksOf(ran.output, &hosts));
    EXPECT_EQ(hosts, (std::map<std::string, int>{{"hostA", 2}, {"hostB", 2}}));
    EXPECT_EQ(zebtest::ReadFile(hosts_->WorkOf(0) / "report.txt"), "host hostA ranks 0 1\n");
    EXPECT_EQ(zebtest::ReadFile(hosts_->WorkOf(1) / "report.txt"), "host hostB ranks 2 3\n");
    std::cout << "mpirun across the hosts took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
}

// ansible-playbook with site.yml on the hosts (hostA with three slots, hostB with one) as
// the kit's test would have it: the hosts share one file system, so nothing is installed.
struct Play {
    zebtest::Outcome outcome;
    long long ms = 0;
};
Play RunPlaybook(const TestHosts& lan, const std::string& job, int timeoutSeconds) {
    const std::filesystem::path& d = lan.Directory();
    const std::string cfg = lan.SshConfig().string();
    std::filesystem::remove_all(d / "fetched"); // nothing of an earlier play is taken as this one's
    zebtest::WriteFile(d / "ansible.cfg", "");
    zebtest::WriteFile(
        d / "inventory.yml",
        "zeb_clients:\n  hosts:\n    hostA: {zeb_slots: 3}\n    hostB: {zeb_slots: 1}\n"
        "  vars:\n    ansible_user: root\n    ansible_ssh_common_args: \"-F " +
            cfg +
            "\"\n    ansible_python_interpreter: /usr/bin/python3\n"
            "    zeb_install: false\n    zeb_mpi_as_root: true\n    zeb_ssh: \"ssh -F " +
            cfg + "\"\n    zeb_subnet: \"" + TestHosts::Subnet() + "\"\n    zeb_work_dir: \"" +
            lan.WorkPath().string() + "\"\n    zeb_job: \"" + job +
            "\"\n    zeb_job_timeout: " + std::to_string(timeoutSeconds) +
            "\n    zeb_fetch_dir: \"" + (d / "fetched").string() + "\"\n");
    // Ansible's own files in the fixture's directory; one ssh connection per task, none left
    // running after the play.
    const zebtest::ProcessOptions options = zebtest::JoinedOutput(
        {"ANSIBLE_CONFIG=" + (d / "ansible.cfg").string(), "ANSIBLE_HOME=" + (d / "ah").string(),
         "ANSIBLE_LOCAL_TEMP=" + (d / "at").string(), "ANSIBLE_REMOTE_TEMP=" + (d / "art").string(),
         "ANSIBLE_SSH_ARGS=-o ControlMaster=no", "ANSIBLE_PIPELINING=1", "ANSIBLE_NOCOLOR=1",
         "ANSIBLE_RETRY_FILES_ENABLED=0"});
    const auto start = std::chrono::steady_clock::now();
    Play play;
    play.outcome =
        zebtest::Run({"ansible-playbook", "-i", (d / "inventory.yml").string(), ZEB_PLAYBOOK},
                     options, 2 * kJobMs);
    play.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    return play;
}

// The hostfile from the inventory, the job from the first host, the result and every host's
// report fetched back.
TEST_F(Lan, PlaybookRunsTheJobAndFetchesTheReports) {
    if (std::string why = Missing("ansible-playbook") + Missing("mpirun"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::filesystem::path fetched = hosts_->Directory() / "fetched";
    const Play play = RunPlaybook(*hosts_, ZEB_FLEET_PROBE, 60);
    ASSERT_TRUE(zebtest::ExitedWith(play.outcome, 0));
    EXPECT_EQ(zebtest::ReadFile(hosts_->WorkOf(0) / "hostfile"), "hostA slots=3\nhostB slots=1\n");
    std::map<std::string, int> hosts;
    ASSERT_TRUE(RanksOf(zebtest::ReadFile(fetched / "hostA" / "result.txt"), &hosts));
    EXPECT_EQ(hosts, (std::map<std::string, int>{{"hostA", 3}, {"hostB", 1}}));
    EXPECT_EQ(zebtest::ReadFile(fetched / "hostA" / "report.txt"), "host hostA ranks 0 1 2\n");
    EXPECT_EQ(zebtest::ReadFile(fetched / "hostB" / "report.txt"), "host hostB ranks 3\n");
    EXPECT_FALSE(std::filesystem::exists(fetched / "hostB" / "result.txt"));
    std::cout << "the playbook took " << play.ms << " ms\n";
}

// A job that outlives its limit fails the play, and none of its clients is left on a host.
TEST_F(Lan, PlaybookEndsAJobAtItsLimit) {
    if (std::string why = Missing("ansible-playbook") + Missing("mpirun"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string job = "sleep 1234.5"; // a command line no other program has
    constexpr int kLimitSeconds = 2;        // the job is still starting on the hosts then
    const Play play = RunPlaybook(*hosts_, "/bin/" + job, kLimitSeconds);
    EXPECT_EQ(play.outcome.Status(), 2) << play.outcome.output; // a task failed
    EXPECT_LT(play.ms, 45000);
    EXPECT_TRUE(zebtest::WaitUntil(
        [&] { return zebtest::Shell("pgrep -f '^/bin/" + job + "'").status != 0; }, 10000))
        << "clients left: " << zebtest::Shell("pgrep -a -f '" + job + "'").text;
    std::cout << "the play of a job killed after " << kLimitSeconds << " s took " << play.ms
              << " ms\n";
}

} // namespace
