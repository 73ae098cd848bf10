#include "run.h"

#include "datafile.h"
#include "log.h"
#include "platform.h"
#include "serverreads.h"
#include "state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vor32 {

Settings RunSettings;
std::byte* TransferBuffer = nullptr;
std::uint32_t TransBufSize = 0;

namespace {

constexpr int kFailure = 1;
constexpr std::uint32_t kLargestBuffer = 1200000;
constexpr std::uint32_t kSmallestBuffer = 20000;
constexpr std::uint32_t kBufferStep = 10000;

std::uint32_t CurrentSize = 0;
std::uint32_t TransferNumber = 0;
std::uint32_t TotalBytesCopied = 0;
std::uint32_t TotalCopySeconds = 0;
std::time_t StartTime = 0;
std::uint32_t RandomSeed = 1;

// Values named 32-bit are printed through their 32-bit type, as on the original platform.
long Signed(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}
unsigned long Unsigned(std::uint32_t value) {
    return value;
}

std::uint32_t MinSize() {
    return static_cast<std::uint32_t>(RunSettings.MinSize);
}
std::uint32_t MaxSize() {
    return static_cast<std::uint32_t>(RunSettings.MaxSize);
}
std::uint32_t Increment() {
    return static_cast<std::uint32_t>(RunSettings.Increment);
}

// Tries sizes from the smaller of MaxSize and 1,200,000 down in steps of 10,000, never below
// the smaller of MaxSize and 20,000.
void AllocateTransferBuffer() {
    const std::uint32_t upper = std::min(MaxSize(), kLargestBuffer);
    const std::uint32_t lower = std::min(MaxSize(), kSmallestBuffer);
    std::uint32_t size = upper;
    while ((TransferBuffer = AllocateFixed(size)) == nullptr) {
        if (size < lower + kBufferStep) {
            LogPrintf("GlobalAlloc failed to satisfy request of %lu bytes\n", Unsigned(size));
            LogPrintf("Insufficient memory.");
            EndProgram(kFailure);
        }
        size -= kBufferStep;
    }
    TransBufSize = size;
}

void PrintDuration(const char* format, std::uint32_t seconds, bool asSigned) {
    if (asSigned) {
        auto elapsed = static_cast<std::int32_t>(seconds);
        LogPrintf(format, static_cast<long>(elapsed / 3600), static_cast<long>(elapsed / 60 % 60),
                  static_cast<long>(elapsed % 60));
    } else {
        LogPrintf(format, Signed(seconds / 3600), Signed(seconds / 60 % 60), Signed(seconds % 60));
    }
}

void PrintTotals() {
    std::time_t now = std::time(nullptr);
    auto elapsed = static_cast<std::int32_t>(now - StartTime);
    char timeText[kTimeTextSize];
    LogPrintf("\n_______________________________________________________\n");
    LogPrintf("-------------------------------------------------------\n\n");
    LogPrintf("Current Time is %s", TimeText(now, timeText));
    if (CurrentSize < MaxSize()) {
        LogPrintf("\n\rMaxSize not reached.\n\r\n\r");
    }
    LogPrintf("\n\r[Final Totals]\n\r\n\r");
    LogPrintf("  Initial File Size: %08ld Bytes.\n\r", Signed(MinSize()));
    LogPrintf("  Target File Size:  %08ld Bytes.\n\r", Signed(MaxSize()));
    LogPrintf("  Increment Size:    %08ld Bytes.\n\r", Signed(Increment()));
    // Growth never starts when MinSize is past MaxSize: no transfer is needed.
    std::uint32_t needed = MinSize() > MaxSize() ? 0 : (MaxSize() - MinSize()) / Increment();
    LogPrintf("  Total number of transfers needed to reach MaxSize: %06ld\n\r", Signed(needed));
    LogPrintf("  Current Transfer#: %06lu\n\r", Unsigned(TransferNumber));
    PrintDuration("  Elapsed Run Time:  %02ld Hours  %02ld Minutes %02ld Seconds\n\r\n\r",
                  static_cast<std::uint32_t>(elapsed), true);
    LogPrintf("  Total Bytes Copied:     %08lu\n\r", Unsigned(TotalBytesCopied));
    PrintDuration("  Time Copying:           %02ld Hours  %02ld Minutes %02ld Seconds\n\r",
                  TotalCopySeconds, false);
    if (TotalCopySeconds != 0) {
        LogPrintf("  Bytes/Sec:  %6.2f\n\r\n\r",
                  static_cast<double>(TotalBytesCopied) / static_cast<double>(TotalCopySeconds));
    }
}

// The target part of a data file path: the path less the data file name.
void TargetPart(char (&part)[kPathBufferSize], const char* path) {
    std::snprintf(part, sizeof part, "%s", path);
    std::size_t length = std::strlen(part);
    std::size_t name = RunSettings.DataFileName.size();
    part[length > name ? length - name : 0] = '\0';
}

void LogTransfer(const char* source, const char* destination, std::uint32_t number,
                 std::uint32_t size, std::int32_t seconds) {
    char sourcePart[kPathBufferSize];
    char destinationPart[kPathBufferSize];
    TargetPart(sourcePart, source);
    TargetPart(destinationPart, destination);
    LogPrintf("#%03ld  %20s -> %20s  %8ld Bytes %6ld Secs\n", Signed(number), sourcePart,
              destinationPart, Signed(size), static_cast<long>(seconds));
    // The operator's end stands in for the ScrollLock toggle, looked at once per transfer.
    if (StopRequested()) {
        ConsolePrintf("\n\nTerminated by user.\n");
        LogAllOutput = true;
        PrintTotals();
        EndProgram(0);
    }
}

void LogStartUpBlock() {
    char timeText[kTimeTextSize];
    LogPrintf("\nData Copy Stress Test (Win32 Version)\n");
    LogPrintf("Test started  %s\n", TimeText(StartTime, timeText));
    LogPrintf("LogFile name:  \t'%s'\n", RunSettings.LogFileName.c_str());
    LogPrintf("DataFile name: \t'%s'\n", RunSettings.DataFileName.c_str());
}

void LogSettings() {
    LogPrintf("Settings Used:\n");
    LogPrintf("\tMinSize: %ld\tMaxSize:%ld\tIncrement:%ld\n", Signed(MinSize()), Signed(MaxSize()),
              Signed(Increment()));
    LogPrintf("List of targets specified:\n");
    for (const std::string& target : RunSettings.TargetList) {
        LogPrintf("\t%s\n", target.c_str());
    }
    LogPrintf("Successfully allocated %lu bytes for Transfer Buffer.\n", Unsigned(TransBufSize));
    ReportServerReads();
}

} // namespace

int NextRandom() {
    RandomSeed = RandomSeed * 214013u + 2531011u;
    return static_cast<int>((RandomSeed >> 16) & 0x7FFF);
}

int RunCopyStress(const Settings& settings) {
    RunSettings = settings;
    if (!CreateLogFile(RunSettings.LogFileName.c_str())) {
        ConsolePrintf("Unable to create log file '%s'.\n", RunSettings.LogFileName.c_str());
        return kFailure;
    }
    StartTime = std::time(nullptr);

    // The whole start-up block goes to the log in any case.
    LogAllOutput = true;
    LogStartUpBlock();
    AllocateTransferBuffer();
    LogSettings();

    PathBuffer currentPath;
    PathBuffer previousPath;
    std::size_t current = 0;
    CreateInitialFile(BuildDataFilePath(currentPath, current), MinSize());
    LogPrintf("Verifying initial data integrity.\n");
    VerifyCells(currentPath, MinSize());
    LogPrintf("Initial data integrity ok.\n\n");
    LogAllOutput = RunSettings.LogAllOutput;
    LogPrintf("_______________________________________________________\n");
    LogPrintf("-------------------------------------------------------\n\n");

    CurrentSize = MinSize();
    const std::size_t targetCount = RunSettings.TargetList.size();
    for (;;) {
        std::size_t destination = static_cast<std::size_t>(NextRandom()) % targetCount;
        while (destination == current) {
            destination = (destination + 1) % targetCount;
        }
        std::memcpy(previousPath, currentPath, sizeof previousPath);
        BuildDataFilePath(currentPath, destination);
        auto seconds = static_cast<std::int32_t>(CopyDataFile(previousPath, currentPath));
        VerifyCells(currentPath, CurrentSize);
        if (CurrentSize < MaxSize()) {
            seconds +=
                static_cast<std::int32_t>(AppendCells(currentPath, CurrentSize, Increment()));
            CurrentSize += Increment();
        } else if (RunSettings.StopAtMaxSize) {
            break; // this last copy is verified but neither counted nor logged
        }
        ++TransferNumber;
        TotalBytesCopied += CurrentSize;
        TotalCopySeconds += static_cast<std::uint32_t>(seconds);
        LogTransfer(previousPath, currentPath, TransferNumber, CurrentSize, seconds);
        current = destination;
    }

    FreeFixed(TransferBuffer, TransBufSize);
    TransferBuffer = nullptr;
    LogAllOutput = true;
    PrintTotals();
    CloseLogFile();
    return RunSettings.ExitCodeThree ? 3 : 0;
}

} // namespace vor32
