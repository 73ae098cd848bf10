// The transfer buffer of the real binary where memory is short: the sizes tried from the
// largest down in steps of 10,000, the run with the size found, and the end when no size can
// be had. A preloaded library refuses the larger fixed blocks.
#include "test_support.h"

#include <ostream>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VOR32_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VOR32_TEST_SANITIZED 1
#endif

namespace vor32_test {
namespace {

class TransferBuffer : public Vor32Test {
  protected:
    void SetUp() override {
#ifdef VOR32_TEST_SANITIZED
        GTEST_SKIP() << "the sanitizer runtime must come first in the preload list";
#endif
    }
    // Runs vor32 with no fixed block larger than limit bytes to be had.
    Outcome RunWithMemoryLimit(const std::vector<std::string>& args, unsigned long limit) {
        options.env = {std::string("LD_PRELOAD=") + VOR32_MAP_LIMIT,
                       "VOR32_TEST_MAP_LIMIT=" + std::to_string(limit)};
        return Vor32Process(args, options).Finish();
    }
};

TEST_F(TransferBuffer, ShrinksInStepsOfTenThousandUntilOneFits) {
    // 1,200,000 and every size down to 610,000 are refused; 600,000 is the first that fits,
    // and the file of 1,200,000 bytes moves in two blocks of it.
    Outcome outcome = RunWithMemoryLimit({"0", "1200000", "1200000", "A", "B", "/t"}, 605000);
    ASSERT_TRUE(ExitedWith(outcome, 0));
    std::string expected = StartUpBlock(0, 1200000, 1200000, 600000) + kSeparators;
    EXPECT_EQ(MaskTimes(outcome.output).rfind(expected, 0), 0u) << outcome.output;
    EXPECT_EQ(Transfers(outcome.output).size(), 1u);
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(1200000));
    EXPECT_EQ(ReadFile(dir / "B" / kDataName), Cells(1200000));
}

struct ShortRow {
    std::string maxSize;
    unsigned long limit;
    std::string lastTried; // never below the smaller of MaxSize and 20,000
};

void PrintTo(const ShortRow& row, std::ostream* out) {
    *out << "MaxSize " << row.maxSize << ", nothing above " << row.limit;
}

class NoSizeFits : public TransferBuffer, public ::testing::WithParamInterface<ShortRow> {};

TEST_P(NoSizeFits, EndsWithInsufficientMemory) {
    const ShortRow& row = GetParam();
    Outcome outcome = RunWithMemoryLimit({"8", row.maxSize, "4", "A", "B", "/t"}, row.limit);
    ASSERT_TRUE(ExitedWith(outcome, 1));
    std::string head = "\nData Copy Stress Test (Win32 Version)\n"
                       "Test started  <time>\n\n"
                       "LogFile name:  \t'VOR32.LOG'\n"
                       "DataFile name: \t'" +
                       kDataName + "'\n";
    std::string failure = "GlobalAlloc failed to satisfy request of " + row.lastTried + " bytes\n";
    EXPECT_EQ(MaskTimes(outcome.output), head + failure + "Insufficient memory.");
    // The start-up block goes to the log in any case; the last text has no line feed, so its
    // full stop becomes the CR LF.
    std::string logged = "\nData Copy Stress Test (Win32 Version)\r\n"
                         "Test started  <time>\n\r\n"
                         "LogFile name:  \t'VOR32.LOG'\r\n"
                         "DataFile name: \t'" +
                         kDataName + "'\r\n";
    EXPECT_EQ(MaskTimes(ReadFile(dir / "VOR32.LOG")),
              logged + "GlobalAlloc failed to satisfy request of " + row.lastTried +
                  " bytes\r\nInsufficient memory\r\n");
    EXPECT_FALSE(fs::exists(dir / "A" / kDataName));
}

INSTANTIATE_TEST_SUITE_P(Sizes, NoSizeFits,
                         ::testing::Values(ShortRow{"30000", 19999, "20000"},
                                           ShortRow{"12", 11, "12"}),
                         zebtest::Named([](const ShortRow& r) { return "max" + r.maxSize; }));

} // namespace
} // namespace vor32_test
