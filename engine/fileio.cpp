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

#include "clocks.h"
#include "compatlog.h"
#include "eventclock.h"
#include "fileaccess.h"
#include "modes.h"
#include "observer.h"
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
// The file offset of the data in PatternBuffer that CheckPairs is about to check, for the
// observer's record of a bad pair; -1 where it is not a place in the test file.
long long CheckBase = -1;

// Posts a report as ReportIoError does, telling the observer the offset it is about.
void ReportAt(int kind, const char* detail, long long offset) {
    NoteFailure(kind, offset);
    ReportIoError(kind, detail);
}

// A report whose detail format takes value; offset is the file offset it is about (value,
// unless the text counts one past it).
void ReportDetail(int kind, const char* format, long value, long long offset) {
    std::snprintf(DetailBuffer, sizeof DetailBuffer, format, static_cast<int>(value));
    ReportAt(kind, DetailBuffer, offset);
}
void ReportDetail(int kind, const char* format, long value) {
    ReportDetail(kind, format, value, value);
}

enum class End { No, Yes, Unknown };

// The open test file with its own file position, kept here so that every transfer is one
// positioned call. The position moves exactly as the descriptor's would: by the count a
// transfer moved, to the target of a seek. A failed transfer or size query is never taken
// for the end of the file: each is a failure, with its cause on standard error (once per
// cause) and, for the pass's own transfers, in the observer's record.
struct TestFile {
    const FileAccess& access;
    TestFileHandle* handle;
    const char* path;
    bool observed = false; // the pass's own transfers are told to the observer
    off_t pos = 0;
    off_t knownSize = -1; // the size last seen; -1 when not known
    int error = 0;        // errno of the last failed transfer or size query
    std::uint64_t began = 0;
    std::uint64_t ended = 0;
    std::uint64_t sizeBegan = 0; // the last size query asked of the file system, when observed
    std::uint64_t sizeEnded = 0;
    char cause[128] = "";
    char shownCause[128] = "";      // the last cause shown on standard error
    std::int64_t failingSince = -1; // when the transfers began to fail, one after another

    ssize_t Transfer(bool write, unsigned size) {
        if (observed) {
            began = EventNanoseconds();
        }
        const ssize_t n = write ? access.writeAt(handle, PatternBuffer, size, pos)
                                : access.readAt(handle, PatternBuffer, size, pos);
        error = n < 0 ? errno : 0;
        if (observed) {
            ended = EventNanoseconds();
        }
        if (n > 0) {
            pos += n;
        }
        if (!write && n < static_cast<ssize_t>(size)) {
            knownSize = -1; // the file ended or failed: look again at the next end test
        }
        return n;
    }
    void Seek(off_t to) { pos = to; }
    // At the end when the position is at or past the file's size. The size is asked of the
    // file system only when the position reaches the size last seen or a read came up short.
    End AtEnd() {
        if (knownSize >= 0 && pos < knownSize) {
            return End::No;
        }
        if (observed) {
            sizeBegan = EventNanoseconds();
        }
        const off_t size = access.size(handle);
        if (observed) {
            sizeEnded = EventNanoseconds();
        }
        if (size < 0) {
            error = errno;
            knownSize = -1;
            std::snprintf(cause, sizeof cause, "the file's size cannot be read: %s",
                          access.failure(handle, error));
            return End::Unknown;
        }
        knownSize = size;
        return pos >= knownSize ? End::Yes : End::No;
    }
    // Whether a short read ended exactly at the end of a test file of the right size: the
    // last block of a sequential read.
    bool EndsTestFile() {
        return AtEnd() == End::Yes && knownSize == TEST_FILE_SIZE && pos == knownSize;
    }
    // The cause of the transfer that moved n of asked bytes, in words.
    const char* CauseOf(ssize_t n, unsigned asked) {
        if (n < 0) {
            std::snprintf(cause, sizeof cause, "%s", access.failure(handle, error));
        } else if (knownSize >= 0 && knownSize != TEST_FILE_SIZE) {
            std::snprintf(cause, sizeof cause, "moved %zd of %u bytes; the file is %lld bytes", n,
                          asked, static_cast<long long>(knownSize));
        } else {
            std::snprintf(cause, sizeof cause, "moved %zd of %u bytes", n, asked);
        }
        return cause;
    }
    // One line on standard error for a failure of what at offset, unless the same cause
    // was the last shown.
    void Show(const char* what, off_t at) {
        if (std::strcmp(cause, shownCause) == 0) {
            return;
        }
        std::snprintf(shownCause, sizeof shownCause, "%s", cause);
        char shown[256];
        ShownPath(path, shown, sizeof shown);
        std::fprintf(stderr, "%s: %s at offset %lld: %s\n", shown, what, static_cast<long long>(at),
                     cause);
        std::fflush(stderr);
    }
    // After a transfer that was good or not: whether the file is given up, its server lost
    // or every transfer failing for FAILING_TRANSFERS_LIMIT_MS.
    bool GivenUp(bool ok) {
        if (ok) {
            failingSince = -1;
            return false;
        }
        if (access.lost(handle)) {
            return true;
        }
        const std::int64_t now = MonotonicNanoseconds();
        if (failingSince < 0) {
            failingSince = now;
        }
        return now - failingSince >= std::int64_t{FAILING_TRANSFERS_LIMIT_MS} * 1000000;
    }
    void Close() { access.close(handle); }
};

// One transfer of a pass as it turned out.
struct Moved {
    ssize_t n;
    bool ok;
};

// A read of b bytes at the file's position as one operation of the pass. A failure is
// reported with the mode's text and value; a short read is good only where it ends a
// sequential read at the end of the test file (endMayCut).
Moved Read(TestFile& file, unsigned b, const char* text, long value, bool endMayCut = false) {
    const off_t at = file.pos;
    const ssize_t n = file.Transfer(false, b);
    bool ok = n == static_cast<ssize_t>(b);
    if (!ok && n >= 0 && endMayCut) {
        ok = file.EndsTestFile();
    }
    if (!ok) {
        file.CauseOf(n, b);
    }
    ObserveTransfer(ZEB_EVENT_READ, b, n, ok, at, file.began, file.ended, file.error, file.cause);
    if (!ok) {
        file.Show("read", at);
        ReportDetail(READ_ERROR, text, value);
    }
    return {n, ok};
}

bool Write(TestFile& file, unsigned b, const char* text, long value) {
    const off_t at = file.pos;
    const ssize_t n = file.Transfer(true, b);
    const bool ok = n == static_cast<ssize_t>(b);
    if (!ok) {
        file.CauseOf(n, b);
    }
    ObserveTransfer(ZEB_EVENT_WRITE, b, n, ok, at, file.began, file.ended, file.error, file.cause);
    if (!ok) {
        file.Show("write", at);
        ReportDetail(WRITE_ERROR, text, value);
    }
    return ok;
}

// The pair check of a block read at offset; a bad pair is reported at value + its index + 1
// with the mode's text. True when the block is good.
bool Check(unsigned b, const char* text, off_t offset) {
    CheckBase = offset;
    const unsigned bad = CheckPairs(b);
    CheckBase = -1;
    if (bad != 0) {
        ReportDetail(VERIFY_ERROR, text, static_cast<long>(offset + bad), offset + bad - 1);
    }
    return bad == 0;
}

// After a sequential block: back to the start at the end of the file. A size that cannot be
// read is a failure at r (false); the read starts over then too. That size query is a request
// of the pass that failed, so the observer is told of it as a failed read that asked nothing.
bool RewindAtEnd(TestFile& file, off_t& r, const char* text) {
    const End end = file.AtEnd();
    if (end == End::Unknown) {
        ObserveTransfer(ZEB_EVENT_READ, 0, -1, false, file.pos, file.sizeBegan, file.sizeEnded,
                        file.error, file.cause);
        file.Show("size query", file.pos);
        ReportDetail(READ_ERROR, text, static_cast<long>(r));
    }
    if (end != End::No) {
        file.Seek(0);
        r = 0;
    }
    return end != End::Unknown;
}

// One pass's loop over the iterations in the given mode. A transfer that loses the file's
// server ends the loop (every later request of the file would fail at once), and so do
// transfers that have done nothing but fail for FAILING_TRANSFERS_LIMIT_MS.
void RunIterations(TestFile& file, unsigned mode, unsigned b, unsigned iterations) {
    const unsigned blockCount = TEST_REGION / b;
    const unsigned randomRange = blockCount % 65536; // the block count's low 16 bits
    const ModeDetails& details = DetailFormats[mode < 9 ? mode : 0];
    off_t r = 0;
    off_t p = OVERLAY_POSITION;
    const auto lost = [&](bool ok) { return file.GivenUp(ok); };

    for (unsigned i = 0; i < iterations; ++i) {
        switch (mode) {
        case SEQUENTIAL_READ: {
            const Moved read = Read(file, b, details.read, static_cast<long>(r), true);
            if (lost(read.ok)) {
                return;
            }
            if (read.n >= 0) {
                Check(b, details.verify, r);
            }
            r += b;
            if (!RewindAtEnd(file, r, details.read) && lost(false)) {
                return;
            }
            break;
        }
        case SEQUENTIAL_WRITE: {
            unsigned k = i % blockCount;
            if (k == 0) {
                file.Seek(0);
            }
            if (lost(Write(file, b, details.write, static_cast<long>(k) * b))) {
                return;
            }
            break;
        }
        case SEQUENTIAL_RW: {
            if (i % blockCount == 0) {
                file.Seek(0);
                r = 0;
            }
            if (lost(Write(file, b, details.write, static_cast<long>(r)))) {
                return;
            }
            file.Seek(r);
            const Moved read = Read(file, b, details.read, static_cast<long>(r));
            if (lost(read.ok)) {
                return;
            }
            if (read.n >= 0 && !Check(b, details.verify, r)) {
                // Data read back differs from what was just written: the reports are in
                // report.txt and the compatibility log; the process ends here.
                std::exit(1);
            }
            r += b;
            if (!RewindAtEnd(file, r, details.read) && lost(false)) {
                return;
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
            // write or read-and-write
            if (kind != 0 && lost(Write(file, b, details.write, static_cast<long>(p)))) {
                return;
            }
            if (kind != 1) { // read or read-and-write
                file.Seek(p);
                const Moved read = Read(file, b, details.read, static_cast<long>(p));
                if (lost(read.ok)) {
                    return;
                }
                if (read.n >= 0) {
                    Check(b, details.verify, p);
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

// The patterns as zebcli and the benchmarks name them are these, in this order.
static_assert(SEQUENTIAL_READ == modes::Index(modes::AccessMode::SequentialRead) &&
              SEQUENTIAL_WRITE == modes::Index(modes::AccessMode::SequentialWrite) &&
              SEQUENTIAL_RW == modes::Index(modes::AccessMode::SequentialReadWrite) &&
              RANDOM_READ == modes::Index(modes::AccessMode::RandomRead) &&
              RANDOM_WRITE == modes::Index(modes::AccessMode::RandomWrite) &&
              RANDOM_RW == modes::Index(modes::AccessMode::RandomReadWrite) &&
              OVERLAY_READ == modes::Index(modes::AccessMode::OverlayRead) &&
              OVERLAY_WRITE == modes::Index(modes::AccessMode::OverlayWrite) &&
              OVERLAY_RW == modes::Index(modes::AccessMode::OverlayReadWrite));
static_assert(!modes::Writes(modes::AccessMode::SequentialRead) &&
              !modes::Writes(modes::AccessMode::RandomRead) &&
              !modes::Writes(modes::AccessMode::OverlayRead) &&
              modes::Writes(modes::AccessMode::SequentialReadWrite));

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
    NoteFailure(BYTES_DO_NOT_MISMATCH, CheckBase >= 0 ? CheckBase + static_cast<long long>(i) : -1,
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
    TestFile file{access, handle, path};
    // The test file is 1,048,544 bytes of good pairs or it is not: any other size, an empty
    // file included, is the size error, and a size that cannot be read is no size at all.
    const End end = file.AtEnd();
    if (end == End::Unknown) {
        file.Show("size query", 0);
        ReportDetail(READ_ERROR, "at offset %d", 0);
        file.Close();
        return -1;
    }
    if (file.knownSize != TEST_FILE_SIZE) {
        ReportIoError(READ_ERROR, "buffer size mismatch");
        ReportIoError(READ_ERROR, "read past EOF, TESTFILE size invalid");
        file.Close();
        return -1;
    }
    int offset = 0;
    for (unsigned chunk = 0; chunk < CREATION_CHUNKS; ++chunk) {
        const ssize_t n = file.Transfer(false, CREATION_CHUNK);
        if (n != static_cast<ssize_t>(CREATION_CHUNK)) {
            ReportIoError(READ_ERROR, "buffer size mismatch");
            file.CauseOf(n, CREATION_CHUNK);
            file.Show("read", offset);
            if (n >= 0) {
                // The file was cut while it was read.
                ReportIoError(READ_ERROR, "read past EOF, TESTFILE size invalid");
                file.Close();
                return -1;
            }
            ReportDetail(READ_ERROR, "at offset %d", offset);
            file.Close();
            return offset + 1;
        }
        CheckBase = offset;
        const unsigned bad = CheckPairs(CREATION_CHUNK);
        CheckBase = -1;
        if (bad != 0) {
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
    TestFileHandle* handle = access.open(path, O_WRONLY | O_CREAT | O_EXCL);
    const bool created = handle != nullptr;
    if (handle == nullptr) {
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
        handle = access.open(path, O_RDWR | O_CREAT);
        if (handle != nullptr && access.truncate(handle, 0) != 0) {
            access.close(handle);
            handle = nullptr;
            errno = EBADF;
        }
    } else {
        PostStatus(zebtext::kCreatingTestFile, LEVEL_PROGRESS);
    }

    FillPairPattern(CREATION_CHUNK);
    off_t written = 0;
    if (handle == nullptr) {
        for (unsigned chunk = 0; chunk < CREATION_CHUNKS; ++chunk) {
            ReportIoError(WRITE_ERROR, "file handle invalid");
        }
    } else {
        TestFile file{access, handle, path};
        for (unsigned chunk = 0; chunk < CREATION_CHUNKS; ++chunk) {
            const off_t at = file.pos;
            const ssize_t n = file.Transfer(true, CREATION_CHUNK);
            if (n == static_cast<ssize_t>(CREATION_CHUNK)) {
                continue;
            }
            const int error = n < 0 ? file.error : ENOSPC;
            if (error == EBADF) {
                ReportIoError(WRITE_ERROR, "file handle invalid");
            } else if (error == ENOSPC) {
                ReportIoError(WRITE_ERROR, "out of space");
            }
            file.CauseOf(n, CREATION_CHUNK);
            file.Show("write", at);
        }
        written = file.pos;
        file.Close();
    }
    std::fputs("Checking test file...\n", stdout);
    std::fflush(stdout);

    if (VerifyTestFile(path) == 0) {
        return 0;
    }
    ReportIoError(VERIFY_ERROR, "testfile corrupt, file creation failed");
    // A test file made here that took no byte at all (O_DIRECT refused, say) is not left
    // behind empty.
    if (created && written == 0) {
        access.remove(path);
    }
    return -1;
}

namespace {

// Added to the seed of every pass from now on (SetRandomSeedOffset).
std::uint32_t SeedOffset = 0;

} // namespace

extern "C" unsigned SetRandomSeedOffset(unsigned offset) {
    const unsigned previous = SeedOffset;
    SeedOffset = offset;
    return previous;
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

    TestFile file{access, handle, path, Observed()};
    SeedRandom(static_cast<std::uint32_t>(std::time(nullptr)) + SeedOffset);

    FormatMessage("%s%s, Buffer: %u, I/O Mode: %d, Iteration: %u", zebtext::kPassHeadingPrefix,
                  path, b, mode, iterations);
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
            ReportDetail(VERIFY_ERROR, "at file offset %d", result, result > 0 ? result - 1 : -1);
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
