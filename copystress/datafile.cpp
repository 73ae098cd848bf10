#include "datafile.h"

#include "log.h"
#include "platform.h"
#include "state.h"
#include "targetfile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vor32 {

namespace {

constexpr int kFailure = 1;

void StoreCell(std::byte* at, std::uint32_t value) {
    if constexpr (std::endian::native != std::endian::little) {
        value = __builtin_bswap32(value);
    }
    std::memcpy(at, &value, sizeof value);
}

std::uint32_t LoadCell(const std::byte* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native != std::endian::little) {
        value = __builtin_bswap32(value);
    }
    return value;
}

// Index of the first of count cells from at whose value is not first + its index, or count.
std::uint32_t FirstWrongCell(const std::byte* at, std::uint32_t count, std::uint32_t first) {
    for (std::uint32_t k = 0; k < count; ++k) {
        if (LoadCell(at + 4 * std::size_t{k}) != first + k) {
            return k;
        }
    }
    return count;
}

DataFile OpenOrReport(const char* path, OpenMode mode, const char* failure) {
    DataFile file;
    if (!OpenDataFile(path, mode, file)) {
        LogPrintf(failure, path);
        EndProgram(kFailure);
    }
    return file;
}

[[noreturn]] void ReportFailedAppend(const IoResult& written, std::uint32_t count) {
    ConsolePrintf("bRet = %d   gle=%d\n", written.succeeded ? 1 : 0, written.error);
    LogPrintf("dwBytesWritten (%lu) != dwCount (%lu)\n", static_cast<unsigned long>(written.count),
              static_cast<unsigned long>(count));
    EndProgram(kFailure);
}

[[noreturn]] void ReportFailedCopyWrite(std::uint32_t written, std::uint32_t bytesRead) {
    LogPrintf("dwBytesWritten (%lu) != dwBytesRead (%lu)\n", static_cast<unsigned long>(written),
              static_cast<unsigned long>(bytesRead));
    EndProgram(kFailure);
}

} // namespace

char* BuildDataFilePath(PathBuffer& path, std::size_t targetIndex) {
    const std::string& target = RunSettings.TargetList[targetIndex];
    std::snprintf(path, sizeof path, "%s%s%s", target.c_str(), NeedsSeparator(target) ? "/" : "",
                  RunSettings.DataFileName.c_str());
    return path;
}

std::time_t CreateInitialFile(const char* path, std::uint32_t size) {
    DataFile file =
        OpenOrReport(path, OpenMode::WriteTruncate, "Unable to create initial file '%s'.\n");
    CloseDataFile(file);
    return AppendCells(path, 0, size);
}

std::time_t AppendCells(const char* path, std::uint32_t startOffset, std::uint32_t byteCount) {
    std::time_t start = std::time(nullptr);
    DataFile file =
        OpenOrReport(path, OpenMode::WriteExisting, "Unable to open '%s' for writing.\n");
    SeekDataEnd(file);
    std::uint32_t value = startOffset / 4;
    const std::uint32_t end = value + byteCount / 4;
    const std::uint32_t cellsPerBuffer = TransBufSize / 4;
    std::uint32_t count = 0;
    while (value < end) {
        std::uint32_t cells = std::min(end - value, cellsPerBuffer);
        for (std::uint32_t k = 0; k < cells; ++k) {
            StoreCell(TransferBuffer + 4 * std::size_t{k}, value + k);
        }
        value += cells;
        count = cells * 4;
        IoResult written = WriteData(file, TransferBuffer, count);
        if (!written.succeeded || written.count != count) {
            ReportFailedAppend(written, count);
        }
    }
    // The growth counts once it is durable: a failure to make it so fails the last write.
    if (ChecksReadServer(file) && !MakeDataDurable(file)) {
        ReportFailedAppend({false, 0, errno}, count);
    }
    CloseDataFile(file);
    return std::time(nullptr) - start;
}

std::time_t CopyDataFile(const char* source, const char* destination) {
    std::time_t start = std::time(nullptr);
    DataFile from =
        OpenOrReport(source, OpenMode::ReadExisting, "Unable to open '%s' for reading.\n");
    // The source stays open meanwhile, so a destination that is the same file is refused.
    DataFile to =
        OpenOrReport(destination, OpenMode::WriteTruncate, "Unable to open '%s' for writing.\n");
    std::uint32_t bytesRead;
    std::uint32_t lastWritten = 0;
    do {
        IoResult read = ReadData(from, TransferBuffer, TransBufSize);
        bytesRead = read.count;
        if (!read.succeeded) {
            // Not fatal: the copy ends short, and the verification reports it by its size.
            ConsolePrintf("ReadFile returns FALSE, gle = %d TransBufSize=%d dwBytesRead=%d\n",
                          read.error, static_cast<int>(TransBufSize), static_cast<int>(bytesRead));
            break;
        }
        if (bytesRead == 0) {
            break;
        }
        std::int64_t offset = SeekDataEnd(to);
        LockData(to, offset, bytesRead);
        IoResult written = WriteData(to, TransferBuffer, bytesRead);
        UnlockData(to, offset, bytesRead);
        if (written.count != bytesRead) {
            ReportFailedCopyWrite(written.count, bytesRead);
        }
        lastWritten = bytesRead;
    } while (bytesRead == TransBufSize);
    // The copy counts once it is durable: a failure to make it so fails the last write.
    if (ChecksReadServer(to) && !MakeDataDurable(to)) {
        ReportFailedCopyWrite(0, lastWritten);
    }
    CloseDataFile(from);
    CloseDataFile(to);
    return std::time(nullptr) - start;
}

std::time_t VerifyCells(const char* path, std::uint32_t expectedSize) {
    DataFile file;
    if (!OpenDataFile(path, OpenMode::ReadExisting, file)) {
        LogPrintf("Warning: Attempt to verify data failed.");
        LogPrintf("Unable to open '%s'.\n", path);
        LogPrintf("Unable to read '%s'.\n", path);
        EndProgram(kFailure);
    }
    // Whatever the client still holds of the file is not what is checked.
    if (ChecksReadServer(file)) {
        DropDataCache(file);
    }
    std::uint32_t expected = 0;
    std::uint32_t total = 0;
    std::time_t readTime = 0;
    std::uint32_t bytesRead;
    do {
        std::time_t before = std::time(nullptr);
        IoResult read = ReadData(file, TransferBuffer, TransBufSize);
        if (!read.succeeded) {
            LogPrintf("Unable to read '%s'.\n", path);
            EndProgram(kFailure);
        }
        readTime += std::time(nullptr) - before;
        bytesRead = read.count;
        total += bytesRead;
        std::uint32_t cells = bytesRead / 4;
        std::uint32_t good = FirstWrongCell(TransferBuffer, cells, expected);
        if (good != cells) {
            expected += good;
            LogPrintf("\nData Corruption: Cell# %lX (%lud) in '%s' [Cell=4bytes]\n",
                      static_cast<unsigned long>(expected), static_cast<unsigned long>(expected),
                      path);
            LogPrintf("Expected: %lX,  Found: %lX\n", static_cast<unsigned long>(expected),
                      static_cast<unsigned long>(LoadCell(TransferBuffer + 4 * std::size_t{good})));
            EndProgram(kFailure);
        }
        expected += cells;
    } while (bytesRead == TransBufSize);
    CloseDataFile(file);
    if (total != expectedSize) {
        LogPrintf("\nActual file size (%lu) != Expected file size(%lu)\n",
                  static_cast<unsigned long>(total), static_cast<unsigned long>(expectedSize));
        EndProgram(kFailure);
    }
    return readTime;
}

} // namespace vor32
