// vor32's banner shows when the binary was built, not when the build was configured.
#include "process.h"

#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>

namespace {

// The usage text of vor32, whose first line is the banner.
std::string UsageOutput() {
    zebtest::ProcessOptions options;
    options.errorsToOutput = true;
    return zebtest::Run({VOR32_BINARY, "-?"}, options).output;
}

TEST(BuildStamp, IsTheTimeOfTheLink) {
    const std::string output = UsageOutput();
    std::tm stamp{};
    const std::size_t open = output.find('[');
    ASSERT_NE(open, std::string::npos) << output;
    const char* end = strptime(output.c_str() + open + 1, "%b %d %Y (%H:%M:%S)]", &stamp);
    ASSERT_NE(end, nullptr) << output;

    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        // A reproducible build shows the given time, in UTC.
        EXPECT_EQ(timegm(&stamp), std::strtoll(epoch, nullptr, 10)) << output;
        return;
    }
    struct stat binary {};
    ASSERT_EQ(stat(VOR32_BINARY, &binary), 0);
    stamp.tm_isdst = -1;
    const std::time_t stamped = std::mktime(&stamp);
    // Stamped after every other object was compiled, right before the link: not after the
    // binary was written, and not minutes before (configure time would be).
    EXPECT_LE(stamped, binary.st_mtime) << output;
    EXPECT_LE(binary.st_mtime - stamped, 120) << output;
}

} // namespace
