// mpirun on this host and across hosts that are network namespaces (testsupport/hosts/), and
// the playbook of deploy/ansible/ against those hosts: where the ranks ran, what each host's
// report says, what came back to the controller; zebcli-mpi's clients against an SMB server
// on this host and across the hosts, their merged result, and a client's broken file.
#include "files.h"
#include "netns.h"
#include "process.h"
#include "smb_server.h"
#include "test_hosts.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
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

// A short zebcli-mpi job of the tests: one pass that reads each client's file, the merged
// result in json.
std::vector<std::string> ZebcliMpiJob(const std::string& url, const std::string& json) {
    return {ZEBCLI_MPI, "fileio",       "-q",
            url,        "--mode",       "Sequential Read",
            "--from",   "4000",         "--to",
            "4000",     "--iterations", "20",
            "--json",   json,           "--client-timeout",
            "60"};
}

// The words as a shell's command line (a word with a space in single quotes).
std::string Words(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        line += (line.empty() ? "" : " ") +
                (word.find(' ') == std::string::npos ? word : "'" + word + "'");
    }
    return line;
}

// A merged result of clients that each ran one pass, all passed but those named in failed:
// the clients in rank order on hosts, and the sums of them all their clients' sums.
testing::AssertionResult Merged(const std::filesystem::path& json,
                                const std::vector<std::string>& hosts,
                                const std::vector<int>& failed = {}) {
    const nlohmann::json doc = nlohmann::json::parse(zebtest::ReadFile(json), nullptr, false);
    if (doc.is_discarded() || !doc.contains("clients") || doc["clients"].size() != hosts.size() ||
        doc["all"].size() != 1) {
        return testing::AssertionFailure() << "not a merged result of " << hosts.size()
                                           << " clients and one pass: " << doc.dump();
    }
    std::uint64_t operations = 0;
    std::uint64_t bytes = 0;
    nlohmann::json named = nlohmann::json::array();
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const nlohmann::json& client = doc["clients"][i];
        const bool fails = std::find(failed.begin(), failed.end(), i + 1) != failed.end();
        if (client["name"] != "client " + std::to_string(i + 1) || client["host"] != hosts[i] ||
            client["outcome"] != (fails ? "failed" : "passed")) {
            return testing::AssertionFailure() << "client " << i << ": " << client.dump();
        }
        if (fails) {
            named.push_back("client " + std::to_string(i + 1));
        }
        operations += client["runs"][0]["operations"].get<std::uint64_t>();
        bytes += client["runs"][0]["bytes"].get<std::uint64_t>();
    }
    const nlohmann::json& all = doc["all"][0];
    if (operations != hosts.size() * 20 || all["operations"] != operations ||
        all["bytes"] != bytes || bytes != hosts.size() * 20 * 4000 ||
        all["clients_passed"] != hosts.size() - failed.size() || doc["failed_clients"] != named ||
        doc["outcome"] != (failed.empty() ? "passed" : "failed")) {
        return testing::AssertionFailure() << "the sums or the verdict of them all are not their "
                                           << "clients' (" << operations << " operations, " << bytes
                                           << " bytes): " << all.dump();
    }
    return testing::AssertionSuccess();
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

// zebcli-mpi's four clients on this host against smbd: each client's file made on the share
// and read back exact; then with a byte of client 2's file broken there, client 2 alone fails
// and the job ends with 1.
TEST(MpiOnThisHost, ZebcliMpiClientsAgainstSmbAndABrokenFile) {
    if (std::string why = Missing("mpirun"); !why.empty() || std::string(ZEBCLI_MPI).empty()) {
        GTEST_SKIP() << why << " (or no zebcli-mpi in this build)";
    }
    std::string why;
    const std::unique_ptr<zebtest::SmbServer> server = zebtest::SmbServer::Start(&why);
    if (server == nullptr) {
        GTEST_SKIP() << "no SMB server: " << why;
    }
    zebtest::TempDir work("zebmpi-smb");
    const auto run = [&] {
        std::vector<std::string> argv = server->Launcher();
        argv.insert(argv.end(), {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", "4",
                                 "--mca", "oob_tcp_if_include", "lo", "--mca", "btl", "self,vader",
                                 "--mca", "pml", "ob1"});
        const std::vector<std::string> job =
            ZebcliMpiJob("smb://root@127.0.0.1/share/M{client}.TST", (work / "all.json").string());
        argv.insert(argv.end(), job.begin(), job.end());
        zebtest::ProcessOptions options;
        options.cwd = work.path();
        options.env = {"PASSWD=" + zebtest::SmbServer::Password()}; // the ranks inherit it
        return zebtest::Run(argv, options, kJobMs);
    };
    const std::vector<std::string> here(4, ThisHost());
    const zebtest::Outcome made = run();
    ASSERT_TRUE(zebtest::ExitedWith(made, 0)) << made.errors;
    EXPECT_TRUE(Merged(work / "all.json", here));
    for (int client = 1; client <= 4; ++client) {
        const std::string file =
            zebtest::ReadFile(server->BackingDirectory() / ("M" + std::to_string(client) + ".TST"));
        EXPECT_TRUE(file == zebtest::EngineTestFile()) << "client " << client;
    }
    {
        std::fstream file(server->BackingDirectory() / "M2.TST",
                          std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(4001);
        file.put('\x07');
    }
    const zebtest::Outcome broken = run();
    EXPECT_TRUE(zebtest::ExitedWith(broken, 1));
    EXPECT_NE(broken.errors.find("zebcli: client 2 failed: pass 1 failed"), std::string::npos)
        << broken.errors;
    EXPECT_TRUE(Merged(work / "all.json", here, {2}));
}

// The process whose working directory is directory (a client goes into its own).
pid_t ProcessIn(const std::filesystem::path& directory) {
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator("/proc")) {
        std::error_code error;
        const std::filesystem::path cwd =
            std::filesystem::read_symlink(entry.path() / "cwd", error);
        if (!error && cwd == directory) {
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
        }
    }
    return -1;
}

// A rank stopped in the middle of its passes does not hold the job: once the bound (and the
// grace of a wait at a release) has run out it is aborted, with a line that names the stopped
// rank and its host, and no rank is left. Rank 0 keeps the count of who has come to a release;
// stopped itself, the others name it.
TEST(MpiOnThisHost, ZebcliMpiAbortsAJobWhoseRankHangsAndNamesIt) {
    if (std::string why = Missing("mpirun"); !why.empty() || std::string(ZEBCLI_MPI).empty()) {
        GTEST_SKIP() << why << " (or no zebcli-mpi in this build)";
    }
    struct Row {
        int stopped;
        const char* named; // what the line of the abort says of the stopped rank
    };
    for (const Row row :
         {Row{0, " did not answer at release "}, Row{2, " did not come to release "}}) {
        const int stopped = row.stopped;
        SCOPED_TRACE("rank " + std::to_string(stopped) + " stopped");
        zebtest::TempDir work("zebmpi-hang");
        std::vector<std::string> argv = {"mpirun", "--oversubscribe", "-np", "3"};
        if (geteuid() == 0) {
            argv.emplace_back("--allow-run-as-root");
        }
        argv.insert(argv.end(), {"--mca",
                                 "oob_tcp_if_include",
                                 "lo",
                                 "--mca",
                                 "btl",
                                 "self,vader",
                                 "--mca",
                                 "pml",
                                 "ob1",
                                 ZEBCLI_MPI,
                                 "fileio",
                                 (work / "T.TST").string(),
                                 "--client-timeout",
                                 "1",
                                 "--from",
                                 "4000",
                                 "--to",
                                 "4000",
                                 "--iterations",
                                 "2000",
                                 "--repeat",
                                 "5000"});
        zebtest::ProcessOptions options;
        options.cwd = work.path();
        options.errorsToOutput = true;
        zebtest::Process run(argv, options);
        ASSERT_TRUE(run.ReadUntil("File I/O Passed", kJobMs)) << run.Output();
        // Rank r runs client r + 1.
        const pid_t rank = ProcessIn(std::filesystem::canonical(
            work / "zebcli-clients" / ("client-" + std::to_string(stopped + 1))));
        ASSERT_GT(rank, 0);
        const auto stoppedAt = std::chrono::steady_clock::now();
        ASSERT_EQ(::kill(rank, SIGSTOP), 0);
        const zebtest::Outcome outcome = run.Finish(kJobMs);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stoppedAt).count();
        EXPECT_TRUE(outcome.exited && outcome.code != 0) << outcome.output;
        EXPECT_NE(outcome.output.find(": rank " + std::to_string(stopped) + " on host " +
                                      ThisHost() + row.named),
                  std::string::npos)
            << outcome.output;
        EXPECT_LT(seconds, 30);
        EXPECT_TRUE(zebtest::WaitUntil([&] { return ::kill(rank, 0) != 0; }, 10000));
        std::printf("[ bound ] the job ended %.1f s after rank %d stopped\n", seconds, stopped);
    }
}

// Two hosts of a test LAN, shared by the cases (each sshd takes a second to come up).
class Lan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { hosts_ = TestHosts::Start(&whyNot_).release(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        delete hosts_;
        hosts_ = nullptr;
    }
    // smbd on the LAN, shared by the cases that need it, and the password file the hosts read
    // (never a command line); nullptr, with the reason in *why, where it cannot come up.
    static zebtest::SmbServer* Server(std::string* why) {
        if (server_ == nullptr) {
            server_ = zebtest::SmbServer::Start(why, {.lan = hosts_->ServerPort(0)}).release();
            zebtest::WriteFile(Credentials(), "username = root\npassword = " +
                                                  zebtest::SmbServer::Password() + "\n");
            std::filesystem::permissions(Credentials(), std::filesystem::perms::owner_read);
        }
        return server_;
    }
    static std::filesystem::path Credentials() { return hosts_->Directory() / "smb.auth"; }
    // The mpirun of the job from the first host: np ranks as hosts says (hostA:2,hostB:2).
    static std::string Mpirun(const std::string& hosts, const std::string& job) {
        const std::string ssh = "ssh -F " + hosts_->SshConfig().string();
        const std::string subnet = TestHosts::Subnet();
        return "cd " + hosts_->WorkPath().string() +
               " && mpirun --allow-run-as-root --oversubscribe -np 4 --host " + hosts +
               " --mca plm_rsh_agent '" + ssh + "' --mca oob_tcp_if_include " + subnet +
               " --mca btl_tcp_if_include " + subnet + " --mca btl tcp,vader,self --mca pml ob1 " +
               job;
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
    static zebtest::SmbServer* server_;
    static std::string whyNot_;
};

TestHosts* Lan::hosts_ = nullptr;
zebtest::SmbServer* Lan::server_ = nullptr;
std::string Lan::whyNot_;

// Each host answers by ssh under its own name and address, has no route off the LAN, and
// runs zebcli against an SMB server in a namespace of its own on the LAN (its password in a
// file, never on a command line).
TEST_F(Lan, SshReachesEachHostAndEachReachesTheSmbServer) {
    std::string why;
    const zebtest::SmbServer* server = Server(&why);
    if (server == nullptr) {
        GTEST_SKIP() << "no SMB server on the LAN: " << why;
    }
    const std::filesystem::path credentials = Credentials();
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
    const std::string mpirun =
        Mpirun(hosts_->Name(0) + ":2," + hosts_->Name(1) + ":2", ZEB_FLEET_PROBE);
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

// zebcli-mpi's clients two on each host against smbd on the LAN, the password in a file: the
// merged result names each client's host, and each client's directory is on its own host. With
// ZEB_KEEP_MPI_JSON set, the merged result is copied there.
TEST_F(Lan, ZebcliMpiRunsTwoClientsOnEachHostAgainstSmb) {
    if (std::string why = Missing("mpirun"); !why.empty() || std::string(ZEBCLI_MPI).empty()) {
        GTEST_SKIP() << why << " (or no zebcli-mpi in this build)";
    }
    std::string why;
    if (Server(&why) == nullptr) {
        GTEST_SKIP() << "no SMB server on the LAN: " << why;
    }
    const std::vector<std::string> job =
        ZebcliMpiJob("smb://" + TestHosts::ServerAddress(0) + "/share/L{client}.TST", "all.json");
    const std::string mpirun =
        Mpirun(hosts_->Name(0) + ":2," + hosts_->Name(1) + ":2",
               Words(job) + " --authentication-file " + Credentials().string());
    const zebtest::Outcome ran = hosts_->Run(0, mpirun, kJobMs);
    ASSERT_TRUE(zebtest::ExitedWith(ran, 0)) << mpirun;
    const std::filesystem::path json = hosts_->WorkOf(0) / "all.json";
    EXPECT_TRUE(Merged(json, {"hostA", "hostA", "hostB", "hostB"}));
    for (int client = 1; client <= 4; ++client) {
        EXPECT_TRUE(std::filesystem::exists(hosts_->WorkOf((client - 1) / 2) / "zebcli-clients" /
                                            ("client-" + std::to_string(client)) / "results.json"))
            << "client " << client;
    }
    if (const char* keep = std::getenv("ZEB_KEEP_MPI_JSON"); keep != nullptr && *keep != '\0') {
        std::filesystem::copy_file(json, keep, std::filesystem::copy_options::overwrite_existing);
    }
}

// ansible-playbook with site.yml on the hosts (hostA with three slots, hostB with one) as
// the kit's test would have it: the hosts share one file system, so nothing is installed.
struct Play {
    zebtest::Outcome outcome;
    long long ms = 0;
};
Play RunPlaybook(const TestHosts& lan, const std::string& job, int timeoutSeconds,
                 const std::string& results = "[]") {
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
            lan.WorkPath().string() + "\"\n    zeb_job: \"" + job + "\"\n    zeb_job_timeout: " +
            std::to_string(timeoutSeconds) + "\n    zeb_fetch_dir: \"" + (d / "fetched").string() +
            "\"\n    zeb_results: " + results + "\n");
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

// A zebcli-mpi job from the playbook: the merged result of its four clients comes back.
TEST_F(Lan, PlaybookRunsAZebcliMpiJobAgainstSmbAndFetchesTheMergedResult) {
    if (std::string why = Missing("ansible-playbook") + Missing("mpirun");
        !why.empty() || std::string(ZEBCLI_MPI).empty()) {
        GTEST_SKIP() << why << " (or no zebcli-mpi in this build)";
    }
    std::string why;
    if (Server(&why) == nullptr) {
        GTEST_SKIP() << "no SMB server on the LAN: " << why;
    }
    const std::vector<std::string> job =
        ZebcliMpiJob("smb://" + TestHosts::ServerAddress(0) + "/share/P{client}.TST", "all.json");
    const Play play = RunPlaybook(
        *hosts_, Words(job) + " --authentication-file " + Credentials().string(), 60, "[all.json]");
    ASSERT_TRUE(zebtest::ExitedWith(play.outcome, 0));
    EXPECT_TRUE(Merged(hosts_->Directory() / "fetched" / "hostA" / "all.json",
                       {"hostA", "hostA", "hostA", "hostB"}));
    std::cout << "the play of a zebcli-mpi job took " << play.ms << " ms\n";
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
