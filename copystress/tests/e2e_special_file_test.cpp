// Data files and logs must be regular files: a FIFO or a device in their place is refused
// with the report of a file that cannot be created, and never waited on or written to.
#include "test_support.h"

#include <sys/stat.h>

namespace vor32_test {
namespace {

struct SpecialFileRow {
    const char* name;
    std::vector<std::string> args;
    const char* fifo;        // a FIFO made at this path in the run's directory, or nullptr
    std::string lastMessage; // what the console output ends with
};

using SpecialFile = Vor32ParamTest<SpecialFileRow>;

TEST_P(SpecialFile, IsRefusedAtOnce) {
    const SpecialFileRow& row = GetParam();
    if (row.fifo != nullptr) {
        ASSERT_EQ(mkfifo((dir / row.fifo).c_str(), 0666), 0);
    }
    Outcome outcome = RunHere(row.args);
    ASSERT_TRUE(ExitedWith(outcome, 1));
    EXPECT_TRUE(outcome.output.ends_with(row.lastMessage)) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(
    Vor32, SpecialFile,
    ::testing::Values(SpecialFileRow{"FifoAsLog",
                                     {"8", "16", "4", "A", "B", "/l", "pipe.log"},
                                     "pipe.log",
                                     "Unable to create log file 'pipe.log'.\n"},
                      SpecialFileRow{"DeviceAsLog",
                                     {"8", "16", "4", "A", "B", "/l", "/dev/full"},
                                     nullptr,
                                     "Unable to create log file '/dev/full'.\n"},
                      SpecialFileRow{"FifoAsInitialFile",
                                     {"8", "16", "4", "A", "B", "/t", "/d", "pipe"},
                                     "A/pipe",
                                     "Transfer Buffer.\nUnable to create initial file 'A/pipe'.\n"},
                      SpecialFileRow{"FifoAsCopy",
                                     {"8", "16", "4", "A", "B", "/t", "/d", "pipe"},
                                     "B/pipe",
                                     kSeparators + "Unable to open 'B/pipe' for writing.\n"}),
    [](const ::testing::TestParamInfo<SpecialFileRow>& info) { return info.param.name; });

} // namespace
} // namespace vor32_test
