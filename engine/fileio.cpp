// The file I/O stress test. Every read and write is one positioned call through the test
// file's backend (fileaccess.h), the buffer is the engine's static PatternBuffer, and nothing
// is allocated per iteration.
#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>

#include "compatlog.h"
#include "fileaccess.h"
#include "pairscan.h"
#include "status.h"
#include "zebdll.h"
#include "zebtexts.h"

namespace {

const char* const ErrorLabels[] = {"BYTES_DO_NOT_MISMATCH", "READ_ERROR", "WRITE_ERROR",
                                   "VERIFY_ERROR", ""};

// Detail formats per mode: write error, read error, bad pair. nullptr where the mode never
// reports that kind.
struct ModeDetails {
    const char* write;
    const char* read;
    const char* verify;
};
// kept as shipped: "offerset"
const ModeDetails DetailFormats[] = {
    {nullptr, "at offset %d", "at offset %d"},
    {"at offset %d", nullptr, nullptr},
    {"at offset %d\n", "at offset %d\n", "at offset %d\n"},
    {nullptr, "at offset %d\n", "at offerset %d "},
    {"at offset %d", nullptr, nullptr},
    {"at offset %d", "at offset %d\n", "at offerset %d "},
    {nullptr, "at offset %d\n", "at offerset %d "},
    {"at offset %d", nullptr, nullptr},
    {"at offset %d", "at offset %d\n", "at offerset %d "},
};

int IoFailed = 0;
int FirstPass = 1;
char DetailBuffer[48];
std::uint32_t RandomState = 1;

void ReportDetail(int kind, const char* format, long value) {
    std::snprintf(DetailBuffer, sizeof DetailBuffer, format, static_cast<int>(value));
    ReportIoError(kind, DetailBuffer);
}

// The open test file with its own file position, kept here so that every transfer is one
// positioned call. The position moves exactly as the descriptor's would: by the count a
// transfer moved, to the target of a seek.
struct TestFile {
    const FileAccess& access;
    TestFileHandle* handle;
    off_t pos = 0;
    off_t knownSize = 0;

    ssize_t Read(unsigned size) {
        ssize_t n = access.readAt(handle, PatternBuffer, size, pos);
        if (n > 0) {
            pos += n;
        }
        if (n < static_cast<ssize_t>(size)) {
            knownSize = -1; // the file ended or failed: look again at the next end test
        }
        return n;
    }
    ssize_t Write(unsigned size) {
        ssize_t n = access.writeAt(handle, PatternBuffer, size, pos);
        if (n > 0) {
            pos += n;
        }
        return n;
    }
    void Seek(off_t to) { pos = to; }
    // At the end when the position is at or past the file's size. The size is asked of the
    // file system only when the position reaches the size last seen or a read came up
    // short; an error while asking counts as the end.
    bool AtEnd() {
        if (pos < knownSize) {
            return false;
        }
        const off_t size = access.size(handle);
        if (size < 0) {
            return true;
        }
        knownSize = size;
        return pos >= knownSize;
    }
    void Close() { access.close(handle); }
};

bool IsShort(ssize_t n, unsigned size) {
    return n < 0 || static_cast<std::size_t>(n) < size;
}

// One pass's loop over the iterations in the given mode.
void RunIterations(TestFile& file, unsigned mode, unsigned b, unsigned iterations) {
    const unsigned blockCount = TEST_REGION / b;
    const unsigned randomRange = blockCount % 65536; // the block count's low 16 bits
    const ModeDetails& details = DetailFormats[mode < 9 ? mode : 0];
    off_t r = 0;
    off_t p = OVERLAY_POSITION;

    for (unsigned i = 0; i < iterations; ++i) {
        switch (mode) {
        case SEQUENTIAL_READ: {
            ssize_t n = file.Read(b);
            if (IsShort(n, b) && !file.AtEnd()) {
                ReportDetail(READ_ERROR, details.read, r);
            }
            if (unsigned bad = CheckPairs(b)) {
                ReportDetail(VERIFY_ERROR, details.verify, r + bad);
            }
            r += b;
            if (file.AtEnd()) {
                file.Seek(0);
                r = 0;
            }
            break;
        }
        case SEQUENTIAL_WRITE: {
            unsigned k = i % blockCount;
            if (k == 0) {
                file.Seek(0);
            }
            if (IsShort(file.Write(b), b)) {
                ReportDetail(WRITE_ERROR, details.write, static_cast<off_t>(k) * b);
            }
            break;
        }
        case SEQUENTIAL_RW: {
            if (i % blockCount == 0) {
                file.Seek(0);
                r = 0;
            }
            if (IsShort(file.Write(b), b)) {
                ReportDetail(WRITE_ERROR, details.write, r);
            }
            file.Seek(r);
            if (IsShort(file.Read(b), b)) {
                ReportDetail(READ_ERROR, details.read, r);
            }
            if (unsigned bad = CheckPairs(b)) {
                ReportDetail(VERIFY_ERROR, details.verify, r + bad);
                // Data read back differs from what was just written: the reports are in
                // report.txt and the compatibility log; the process ends here.
                std::exit(1);
            }
            r += b;
            if (file.AtEnd()) {
                file.Seek(0);
                r = 0;
            }
            break;
        }
        case RANDOM_READ:
        case RANDOM_WRITE:
        case RANDOM_RW:
        case OVERLAY_READ:
        case OVERLAY_WRITE:
        case OVERLAY_RW: {
            if (mode <= RANDOM_RW) {
                unsigned n = DrawRandom();
                p = static_cast<off_t>(randomRange != 0 ? n % randomRange : 0) * b;
                if (p > static_cast<off_t>(TEST_REGION - b)) {
                    p = TEST_REGION - b;
                }
            }
            file.Seek(p);
            const unsigned kind = mode <= RANDOM_RW ? mode - RANDOM_READ : mode - OVERLAY_READ;
            if (kind != 0 && IsShort(file.Write(b), b)) { // write or read-and-write
                ReportDetail(WRITE_ERROR, details.write, p);
            }
            if (kind != 1) { // read or read-and-write
                file.Seek(p);
                if (IsShort(file.Read(b), b)) {
                    ReportDetail(READ_ERROR, details.read, p);
                }
                if (unsigned bad = CheckPairs(b)) {
                    ReportDetail(VERIFY_ERROR, details.verify, p + bad);
                }
            }
            // Every random or overlay iteration seeks before it moves data, so rewinding
            // at the end of the file would change nothing; it is not done.
            break;
        }
        default:
            break; // no such mode: no I/O
        }
    }
}

bool IsReadOnlyMode(unsigned mode) {
    return mode == SEQUENTIAL_READ || mode == RANDOM_READ || mode == OVERLAY_READ;
}

} // namespace

void SeedRandom(std::uint32_t seed) {
    RandomState = seed;
}

unsigned DrawRandom() {
    RandomState = RandomState * 214013u + 2531011u;
    return (RandomState >> 16) & 0x7FFF;
}

void FillPairPattern(unsigned size) {
    const unsigned pairs = size / 2;
    for (unsigned i = 0; i < pairs; ++i) {
        const auto c = static_cast<unsigned char>(32 + i % 200);
        PatternBuffer[2 * i] = c;
        PatternBuffer[2 * i + 1] = static_cast<unsigned char>(255 - c);
    }
    PatternBuffer[2 * pairs] = 0;
}

unsigned CheckPairs(unsigned size) {
    const std::size_t i = FindBadPair(PatternBuffer, size);
    if (i == NO_BAD_PAIR) {
        return 0;
    }
    const unsigned char first = PatternBuffer[i];
    const unsigned char second = PatternBuffer[i + 1];
    std::snprintf(DetailBuffer, sizeof DetailBuffer, "%c expected %c actual %c", first,
                  static_cast<unsigned char>(~first), second);
    ReportIoError(BYTES_DO_NOT_MISMATCH, DetailBuffer);
    return static_cast<unsigned>(i) + 1;
}

void ReportIoError(int kind, const char* detail) {
    const char* label = kind >= 0 && kind <= 4 ? ErrorLabels[kind] : "";
    FormatMessage("%s %s\n", label, detail);
    PostStatus(MessageBuffer, LEVEL_FAILURE);
    IoFailed = 1;
}

int VerifyTestFile(const char* path) {
    const FileAccess& access = FileAccessFor(path);
    TestFileHandle* handle = access.open(path, O_RDONLY);
    if (handle == nullptr) {
        // Data that could not be read is never passed as good.
        std::snprintf(DetailBuffer, sizeof DetailBuffer, "TESTFILE can not be opened: errno %d",
                      errno);
        ReportIoError(READ_ERROR, DetailBuffer);
        return -1;
    }
    TestFile file{access, handle};
    int offset = 0;
    while (!file.AtEnd()) {
        ssize_t n = file.Read(CREATION_CHUNK);
        if (IsShort(n, CREATION_CHUNK)) {
            ReportIoError(READ_ERROR, "buffer size mismatch");
            if (n >= 0 && file.AtEnd()) {
                ReportIoError(READ_ERROR, "read past EOF, TESTFILE size invalid");
                file.Close();
                return -1;
            }
            ReportDetail(READ_ERROR, "at offset %d", offset);
            if (n < 0) {
                // A failing read would never reach the end: the check ends here, failed.
                file.Close();
                return offset + 1;
            }
        }
        if (unsigned bad = CheckPairs(CREATION_CHUNK)) {
            file.Close();
            return offset + static_cast<int>(bad);
        }
        offset += CREATION_CHUNK;
    }
    file.Close();
    PostStatus("Passed", LEVEL_PROGRESS);
    return 0;
}

int PrepareTestFile(const char* path) {
    const FileAccess& access = FileAccessFor(path);
    TestFileHandle* file = access.open(path, O_WRONLY | O_CREAT | O_EXCL);
    if (file == nullptr) {
        if (errno != EEXIST) {
            return errno;
        }
        PostStatus("Checking test file..", LEVEL_PROGRESS);
        if (VerifyTestFile(path) == 0) {
            return 0;
        }
        ReportIoError(VERIFY_ERROR, "TESTFILE corrupted, Reconstructing ..");
        // Truncate only once the file is known to be a regular file of ours to rebuild.
        // Read-write: some network file system clients refuse to cut a file through a
        // write-only descriptor.
        file = access.open(path, O_RDWR | O_CREAT);
        if (file != nullptr && access.truncate(file, 0) != 0) {
            access.close(file);
            file = nullptr;
            errno = EBADF;
        }
    } else {
        PostStatus("Creating TESTFILE..", LEVEL_PROGRESS);
    }

    FillPairPattern(CREATION_CHUNK);
    off_t at = 0;
    for (unsigned chunk = 0; chunk < CREATION_CHUNKS; ++chunk) {
        ssize_t n = file != nullptr ? access.writeAt(file, PatternBuffer, CREATION_CHUNK, at)
                                    : (errno = EBADF, ssize_t{-1});
        if (n > 0) {
            at += n;
        }
        if (IsShort(n, CREATION_CHUNK)) {
            if (errno == EBADF) {
                ReportIoError(WRITE_ERROR, "file handle invalid");
            } else if (errno == ENOSPC) {
                ReportIoError(WRITE_ERROR, "out of space");
            }
        }
    }
    if (file != nullptr) {
        access.close(file);
    }
    std::fputs("Checking test file...\n", stdout);
    std::fflush(stdout);

    if (VerifyTestFile(path) == 0) {
        return 0;
    }
    ReportIoError(VERIFY_ERROR, "testfile corrupt, file creation failed");
    return -1;
}

extern "C" int SetFileCacheMode(int mode) {
    if (mode == ZEB_CACHE_PLAIN || mode == ZEB_CACHE_DIRECT || mode == ZEB_CACHE_DROP) {
        SetPosixCacheMode(mode);
    }
    return PosixCacheMode();
}

extern "C" int SQL_Test(const char* path, unsigned buffer, unsigned upper, unsigned increment,
                        int mode, unsigned iterations) {
    const unsigned b = (buffer & 1u) != 0 ? buffer - 1 : buffer;
    if (b == 0 || b > MAX_BUFFER) {
        // No whole block of this size fits the pattern buffer or the test region.
        FormatMessage("Buffer size %u can not be tested: the buffer size must be 2 to %u", buffer,
                      MAX_BUFFER);
        PostFailure(MessageBuffer);
        MessageBuffer[0] = '\0';
        PumpMessages();
        return 0;
    }

    PrepareTestFile(path);
    FillPairPattern(b);

    const FileAccess& access = FileAccessFor(path);
    TestFileHandle* handle = access.open(path, O_RDWR);
    if (handle == nullptr) {
        // A server names why it refused: one line beside the failed-open reports.
        char shown[256];
        ShownPath(path, shown, sizeof shown);
        if (const char* why = access.openFailure()) {
            std::fprintf(stderr, "%s: %s\n", shown, why);
        }
        ShowMessageBox("Error", "FILEIO: _open() fails, check file path. Program is terminated");
        FormatMessage("Can not open %s", shown);
        // Posted as a failure, so that a run against a bad path never reads as passed.
        PostFailure(MessageBuffer);
        return ZEB_TEST_FILE_NOT_OPENED;
    }

    TestFile file{access, handle};
    SeedRandom(static_cast<std::uint32_t>(std::time(nullptr)));

    FormatMessage("Test File: %s, Buffer: %u, I/O Mode: %d, Iteration: %u", path, b, mode,
                  iterations);
    PostStatus(MessageBuffer, LEVEL_PROGRESS);
    if (FirstPass != 0) {
        FormatMessage("Test File: %s, Buffer: %u To %u With Inc. %u I/O Mode: %d, Iteration: %u",
                      path, b, upper, increment, mode, iterations);
        CompatLogPrintf("%s", MessageBuffer);
        FirstPass = 0;
    }
    MessageBuffer[0] = '\0';

    const auto umode = static_cast<unsigned>(mode);
    RunIterations(file, umode, b, iterations);
    file.Close();

    if (!IsReadOnlyMode(umode)) {
        if (int result = VerifyTestFile(path)) {
            ReportDetail(VERIFY_ERROR, "at file offset %d", result);
        }
    }

    if (IoFailed != 0) {
        PostFailure(zebtext::kFileIoFailed);
    } else {
        PostStatus(zebtext::kFileIoPassed, LEVEL_PROGRESS);
    }
    MessageBuffer[0] = '\0';
    PumpMessages();
    return 0;
}
