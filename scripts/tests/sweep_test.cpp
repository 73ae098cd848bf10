// run.sh's sweep (scripts/sweep.sh) against the real zebcli: the options given replace the
// defaults of the same name and nothing else, a test file given replaces the temporary one,
// the results of every run land in a folder of their own that the closing lines name, and
// each exit status is explained.
#include "files.h"
#include "process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::set<std::string> results; // the files of the run's folder; none: no folder at all
    const char* json;              // the results file holding the parameters
    int mode, from, to, iterations;
    bool quiet;
    bool pathGiven; // the test file TEST.TST in the directory the sweep was started from
    const char* closing;
};

const std::set<std::string> kDefaultResults = {"report.html", "report.txt", "summary.json",
                                               "sweep.csv", "sweep.svg"};

const Case kCases[] = {
    {"a mode by index and a sweep of two sizes, the other defaults kept",
     {"--mode", "3", "--from", "4096", "--to", "8192", "--iterations", "2"},
     0,
     kDefaultResults,
     "summary.json",
     3,
     4096,
     8192,
     2,
     false,
     false,
     "Exit status 0: no failure was posted."},
    {"options as NAME=VALUE, a short flag, a JSON file of the user's and a relative test file",
     {"-q", "--mode=Sequential Write", "--json=mine.json", "--to", "4096", "--iterations=2",
      "--save", "TEST.TST"},
     0,
     {"mine.json", "report.html", "report.txt", "sweep.csv", "sweep.svg"},
     "mine.json",
     1,
     4096,
     4096,
     2,
     true,
     true,
     "Exit status 0: no failure was posted."},
    {"a usage error",
     {"--mode", "nonsense"},
     64,
     {},
     nullptr,
     0,
     0,
     0,
     0,
     false,
     false,
     "Exit status 64: a usage error."},
};

std::set<fs::path> Folders(const fs::path& dir) {
    std::set<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(dir)) {
        folders.insert(entry.path());
    }
    return folders;
}

} // namespace

TEST(Sweep, UsersOptionsReplaceTheDefaultsTheyNameAndEveryRunKeepsItsResults) {
    const zebtest::TempDir results("results");
    const zebtest::TempDir caller("caller");
    std::set<fs::path> before;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> argv = {SWEEP_SCRIPT, ZEBCLI_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        zebtest::ProcessOptions options =
            zebtest::JoinedOutput({"RESULTS_DIR=" + results.path().string()});
        options.cwd = caller.path();
        const zebtest::Outcome run = zebtest::Run(argv, options);
        ASSERT_TRUE(zebtest::ExitedWith(run, c.status)) << run.output;
        EXPECT_NE(run.output.find(c.closing), std::string::npos) << run.output;

        const std::set<fs::path> after = Folders(results.path());
        std::vector<fs::path> made;
        std::ranges::set_difference(after, before, std::back_inserter(made));
        before = after;
        if (c.results.empty()) {
            EXPECT_TRUE(made.empty()) << "an empty folder is not kept";
            EXPECT_NE(run.output.find("No results were written."), std::string::npos);
            continue;
        }
        ASSERT_EQ(made.size(), 1u) << "a folder of its own for every run";
        EXPECT_NE(run.output.find("Results in " + made[0].string() + "/:"), std::string::npos)
            << run.output;
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(made[0])) {
            files.insert(entry.path().filename().string());
        }
        EXPECT_EQ(files, c.results);

        const auto json = nlohmann::json::parse(zebtest::ReadFile(made[0] / c.json));
        const auto& p = json["parameters"];
        EXPECT_EQ(p["mode_index"], c.mode);
        EXPECT_EQ(p["from"], c.from);
        EXPECT_EQ(p["to"], c.to);
        EXPECT_EQ(p["increment"], 4096) << "the default increment stays";
        EXPECT_EQ(p["iterations"], c.iterations);
        EXPECT_EQ(p["quiet"], c.quiet);
        EXPECT_EQ(p["save"], true);
        const fs::path testFile = p["path"].get<std::string>();
        if (c.pathGiven) {
            EXPECT_EQ(testFile, caller.path() / "TEST.TST");
            EXPECT_EQ(fs::file_size(testFile), 1048544u);
        } else {
            EXPECT_FALSE(fs::exists(testFile.parent_path())) << "the temporary test file goes";
        }
    }
}
