// Shared helpers of the vor32 tests: the program run as a user runs it, files of cells, the
// texts the program prints, and the pieces of its output.
#ifndef VOR32_TESTS_SUPPORT_H
#define VOR32_TESTS_SUPPORT_H

#include "files.h"
#include "names.h"
#include "process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vor32_test {

namespace fs = std::filesystem;
using SpawnOptions = zebtest::ProcessOptions;
using zebtest::ExitedWith;
using zebtest::Outcome;
using zebtest::ReadFile;
using zebtest::TempDir;
using zebtest::WriteFile;

inline const std::string kDataName = "VOR32's data file.DATA";

// The real vor32 binary as a user runs it. It never writes to standard error: anything there
// (a sanitizer's report, say) fails the test.
class Vor32Process : public zebtest::Process {
  public:
    Vor32Process(const std::vector<std::string>& args, const SpawnOptions& options);
    Outcome Finish(int timeoutMs = 120000);
};

// A test in a scratch directory of its own, with the targets A and B made in it, where
// options start the program.
class Vor32Test : public ::testing::Test {
  protected:
    Vor32Test() {
        options.cwd = dir.path();
        dir.Make({"A", "B"});
    }
    // Makes the further directories named in dirs, then runs vor32 here with options to its end.
    Outcome RunHere(const std::vector<std::string>& args,
                    const std::vector<std::string>& dirs = {}) {
        dir.Make(dirs);
        return Vor32Process(args, options).Finish();
    }

    TempDir dir;
    SpawnOptions options;
};
template <class Row>
class Vor32ParamTest : public Vor32Test, public ::testing::WithParamInterface<Row> {};

// The bytes of a data file of size bytes: cell k holds k, least significant byte first.
std::string Cells(std::uint32_t size);

// Replaces each time text "Www Mmm dd hh:mm:ss yyyy" by "<time>" after checking its shape.
std::string MaskTimes(const std::string& text);
// The banner with its build date replaced by "<build>"; empty when the shape is wrong.
std::string MaskBanner(const std::string& text);

// Expected texts, written out here apart from the program's own.
extern const std::string kBanner;      // with "<build>" for the build date and time
extern const std::string kDescription; // as printed for the question-mark form
extern const std::string kUsage;       // the usage text proper
std::string UsageOutput(bool describe);

struct Transfer {
    long number = 0;
    std::string source;      // target part, as shown
    std::string destination; // target part, as shown
    long size = 0;
};
// The per-transfer lines found in a text, in order.
std::vector<Transfer> Transfers(const std::string& text);

// The start-up block as the console shows it (times masked), or as the log holds it: each
// text's last character turned into CR LF. Targets A and B, the log VOR32.LOG and the
// default data file unless given.
std::string StartUpBlock(long minSize, long maxSize, long increment, unsigned long bufferSize,
                         bool logged = false, const std::vector<std::string>& targets = {"A", "B"},
                         const std::string& logName = "VOR32.LOG",
                         const std::string& dataName = kDataName);

struct TotalsFacts {
    long minSize = 0;
    long maxSize = 0;
    long increment = 0;
    long needed = 0; // transfers needed to reach MaxSize
    unsigned long transfers = 0;
    unsigned long bytesCopied = 0;
    bool maxSizeReached = true;
};
// The totals block, the run times written as "<elapsed>" and "<copying>" and without the
// Bytes/Sec line (see MaskRunTimes); logged gives the log's line ends.
std::string Totals(const TotalsFacts& facts, bool logged);
// MaskTimes, then the run times of the totals masked and the Bytes/Sec line left out.
std::string MaskRunTimes(const std::string& text);

// The separator lines that end the start-up block on the console.
inline const std::string kSeparators =
    "_______________________________________________________\n"
    "-------------------------------------------------------\n\n";

} // namespace vor32_test

#endif
