#include "test_support.h"

#include <cstdio>
#include <regex>

namespace vor32_test {

Vor32Process::Vor32Process(const std::vector<std::string>& args, const SpawnOptions& options)
    : Process(
          [&] {
              std::vector<std::string> argv = {VOR32_BINARY};
              argv.insert(argv.end(), args.begin(), args.end());
              return argv;
          }(),
          options) {}

Outcome Vor32Process::Finish(int timeoutMs) {
    Outcome outcome = Process::Finish(timeoutMs);
    EXPECT_EQ(outcome.errors, "") << "vor32 wrote to standard error";
    return outcome;
}

std::string Cells(std::uint32_t size) {
    std::string bytes;
    bytes.reserve(size);
    for (std::uint32_t k = 0; k < size / 4; ++k) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<char>((k >> shift) & 0xFF));
        }
    }
    return bytes;
}

std::string MaskTimes(const std::string& text) {
    static const std::regex time("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                 "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                 "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
    return std::regex_replace(text, time, "<time>");
}

std::string MaskBanner(const std::string& text) {
    static const std::regex banner("^VOR32\\.EXE\t\\[(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
                                   "Nov|Dec) [ 1-3][0-9] [0-9]{4} \\([0-2][0-9]:[0-5][0-9]:[0-6]"
                                   "[0-9]\\)\\]\n\n");
    std::smatch found;
    if (!std::regex_search(text, found, banner)) {
        return {};
    }
    return kBanner + found.suffix().str();
}

const std::string kBanner = "VOR32.EXE\t[<build>]\n\n";

const std::string kDescription = "VOR32 will create a file of the specified start size\n"
                                 "in the current directory specified by the first target path.\n"
                                 "The file will then be copied to a randomly selected target\n"
                                 "appended with the number of bytes specified by the increment\n"
                                 "value.  Then integrity of the copied file will be checked.\n"
                                 "Any descrepency will be logged, but will not terminate\n"
                                 "the test.  This will continue back and forth until the\n"
                                 "Maximum file size is reached.\n";

const std::string kUsage =
    "Usage:\n"
    "VOR32 [/?] MinSize MaxSize Increment Target Target ... [options]\n"
    "Where:\n"
    "  /?:        for a description of the test.\n"
    "  MinSize:   is the initial data file size in bytes.\n"
    "  MaxSize:   is the target data file size in bytes.\n"
    "  Increment: is the increment size in bytes.\n"
    "  Target:    is a path for the copying the file.\n"
    "             A minimum of 2 targets has to be specified.\n"
    "  Options:\n"
    "    /t:          if specified, test terminates when MaxSize is reached\n"
    "                   otherwise, test will run until ScrollLock is turned ON.\n"
    "    /v:          if specified, all screen output will also be in log file.\n"
    "                   otherwise, only test summary is in log file\n"
    "    /l logfile:  specify log file name; default is 'VOR32.LOG'\n"
    "    /d datafile: specify data file name; default is 'VOR32's data file.DATA'\n\n"
    "Example:\n"
    "    VOR32 5000 200000 100 C:\\XYZ C:\\ABC D:\\SCRATCH /v\n"
    "       will copy file to and from targets randomly selected from\n"
    "       the target list starting from 5000 bytes with 100 bytes increment\n"
    "       until file reaches 200000 bytes.  Test continues with 200000 bytes\n"
    "       file.  All transfers will be logged in the logfile\n";

std::string UsageOutput(bool describe) {
    return kBanner + (describe ? kDescription : "") + kUsage;
}

std::vector<Transfer> Transfers(const std::string& text) {
    static const std::regex line("#([0-9]{3,}) +(\\S+) -> +(\\S+) +([0-9]+) Bytes +[0-9]+ Secs");
    std::vector<Transfer> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        found.push_back({std::stol(m[1]), m[2], m[3], std::stol(m[4])});
    }
    return found;
}

namespace {

std::string Join(const std::vector<std::string>& texts, bool logged) {
    std::string joined;
    for (std::string text : texts) {
        if (logged) {
            text.back() = '\r';
            text += "\n";
        }
        joined += text;
    }
    return joined;
}

} // namespace

std::string StartUpBlock(long minSize, long maxSize, long increment, unsigned long bufferSize,
                         bool logged, const std::vector<std::string>& targets,
                         const std::string& logName, const std::string& dataName) {
    char settings[200];
    std::snprintf(settings, sizeof settings, "\tMinSize: %ld\tMaxSize:%ld\tIncrement:%ld\n",
                  minSize, maxSize, increment);
    std::vector<std::string> texts = {"\nData Copy Stress Test (Win32 Version)\n",
                                      "Test started  <time>\n\n",
                                      "LogFile name:  \t'" + logName + "'\n",
                                      "DataFile name: \t'" + dataName + "'\n",
                                      "Settings Used:\n",
                                      settings,
                                      "List of targets specified:\n"};
    for (const std::string& target : targets) {
        texts.push_back("\t" + target + "\n");
    }
    texts.push_back("Successfully allocated " + std::to_string(bufferSize) +
                    " bytes for Transfer Buffer.\n");
    texts.push_back("Verifying initial data integrity.\n");
    texts.push_back("Initial data integrity ok.\n\n");
    return Join(texts, logged);
}

std::string Totals(const TotalsFacts& f, bool logged) {
    char line[200];
    std::vector<std::string> texts = {"\n_______________________________________________________\n",
                                      "-------------------------------------------------------\n\n",
                                      "Current Time is <time>\n"};
    if (!f.maxSizeReached) {
        texts.push_back("\n\rMaxSize not reached.\n\r\n\r");
    }
    texts.push_back("\n\r[Final Totals]\n\r\n\r");
    const std::pair<const char*, long> counts[] = {
        {"  Initial File Size: %08ld Bytes.\n\r", f.minSize},
        {"  Target File Size:  %08ld Bytes.\n\r", f.maxSize},
        {"  Increment Size:    %08ld Bytes.\n\r", f.increment},
        {"  Total number of transfers needed to reach MaxSize: %06ld\n\r", f.needed},
        {"  Current Transfer#: %06ld\n\r", static_cast<long>(f.transfers)}};
    for (const auto& [format, value] : counts) {
        std::snprintf(line, sizeof line, format, value);
        texts.push_back(line);
    }
    texts.push_back("  Elapsed Run Time:  <elapsed>\n\r\n\r");
    std::snprintf(line, sizeof line, "  Total Bytes Copied:     %08lu\n\r", f.bytesCopied);
    texts.push_back(line);
    texts.push_back("  Time Copying:           <copying>\n\r");
    return Join(texts, logged);
}

std::string MaskRunTimes(const std::string& text) {
    static const std::regex duration("[0-9]{2,} Hours  [0-9]{2} Minutes [0-9]{2} Seconds");
    static const std::regex elapsed("Elapsed Run Time:  <d>");
    static const std::regex copying("Time Copying:           <d>");
    static const std::regex rate("  Bytes/Sec:  [ 0-9]+\\.[0-9]{2}\n\r\n\r\n?");
    std::string masked = std::regex_replace(MaskTimes(text), duration, "<d>");
    masked = std::regex_replace(masked, elapsed, "Elapsed Run Time:  <elapsed>");
    masked = std::regex_replace(masked, copying, "Time Copying:           <copying>");
    return std::regex_replace(masked, rate, "");
}

} // namespace vor32_test
