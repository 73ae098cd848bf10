// The limit for zebcli fileio --clients against a file server: N processes, each a bare loop
// of its client library's reads on a test file of its own, and nothing else (no check of the
// data, no engine, no observer). Each reads ITERATIONS blocks of BLOCK bytes where the
// engine's reading pattern MODE reads them (3, Random Read: the engine's random offsets, its
// generator over its test region; 6, Overlay Read: the one block at the overlay position)
// through libsmbclient (open, lseek, read: smb:// URLs) or libnfs (nfs_pread: nfs:// URLs,
// NFSv4). Every {client} in the URL is
// the client's number, 1 to N; the files must exist (zebcli's test files, 1,048,544 bytes).
// The clients open their files, then are released together, as zebcli's are; the rates are
// those zebcli gives: over the window in which all ran (from the release to the first client
// done: what every client had read by then) and over the whole (to the last done).
//   fleet_limit CLIENTS ITERATIONS BLOCK MODE URL
// Prints "window-ops/s whole-ops/s window-seconds operations" and exits 0 once every client
// read every block in full; 1 otherwise (the cause on standard error), 2 on a usage error.
// The SMB password comes from PASSWD, never from the command line.
#include "fileio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <libsmbclient.h>
#include <memory>
#include <new>
#include <nfsc/libnfs-raw-nfs4.h>
#include <nfsc/libnfs.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kMaxClients = 128;
constexpr unsigned long kMaxIterations = 10000000;
constexpr std::size_t kMaxUrl = 1024;
constexpr int kReadyTimeoutMs = 60000; // for every client to open its file
constexpr int kRunTimeoutS = 900;      // for the whole run, after the release

// What the clients share with the parent: each its count of reads done (a cache line of its
// own), and the snapshot that the first client done takes of them all.
struct alignas(64) Counter {
    std::atomic<std::uint64_t> done;
    std::atomic<std::int64_t> endNs;
};
struct Shared {
    std::atomic<int> firstDone;
    std::atomic<std::uint64_t> windowOperations;
    std::atomic<std::int64_t> windowEndNs;
    Counter clients[kMaxClients];
};

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

int Fail(unsigned client, const char* what, const std::string& detail) {
    std::fprintf(stderr, "fleet_limit: client %u: %s: %s\n", client, what, detail.c_str());
    return 1;
}

std::string ClientUrl(const std::string& pattern, unsigned client) {
    std::string url;
    for (std::size_t at = 0; at < pattern.size();) {
        if (pattern.compare(at, 8, "{client}") == 0) {
            url += std::to_string(client);
            at += 8;
        } else {
            url += pattern[at++];
        }
    }
    return url;
}

// One client's reads: open(), then read(offset, buffer) for each block; read returns the
// bytes read or -1 with errno set.
class Reader {
  public:
    virtual ~Reader() = default;
    virtual bool Open(const std::string& url, std::string* why) = 0;
    virtual long Read(std::uint64_t offset, char* buffer, std::size_t size) = 0;
};

void Authenticate(SMBCCTX*, const char*, const char*, char*, int, char*, int, char* password,
                  int passwordSize) {
    const char* given = std::getenv("PASSWD");
    std::snprintf(password, static_cast<std::size_t>(passwordSize), "%s",
                  given != nullptr ? given : "");
}

class SmbReader final : public Reader {
  public:
    bool Open(const std::string& url, std::string* why) override {
        context_ = smbc_new_context();
        if (context_ == nullptr) {
            *why = "no SMB client";
            return false;
        }
        smbc_setDebug(context_, 0);
        smbc_setTimeout(context_, 5000);
        smbc_setOptionUseKerberos(context_, 0);
        smbc_setOptionFallbackAfterKerberos(context_, 1);
        smbc_setOptionNoAutoAnonymousLogin(context_, 1);
        smbc_setFunctionAuthDataWithContext(context_, Authenticate);
        if (smbc_init_context(context_) == nullptr) {
            *why = std::strerror(errno);
            return false;
        }
        file_ = smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDONLY, 0);
        if (file_ == nullptr) {
            *why = std::strerror(errno);
            return false;
        }
        return true;
    }
    long Read(std::uint64_t offset, char* buffer, std::size_t size) override {
        if (smbc_getFunctionLseek(context_)(context_, file_, static_cast<off_t>(offset), SEEK_SET) <
            0) {
            return -1;
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n =
                smbc_getFunctionRead(context_)(context_, file_, buffer + done, size - done);
            if (n <= 0) {
                return n < 0 ? -1 : static_cast<long>(done);
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<long>(done);
    }

  private:
    SMBCCTX* context_ = nullptr;
    SMBCFILE* file_ = nullptr;
};

class NfsReader final : public Reader {
  public:
    bool Open(const std::string& url, std::string* why) override {
        nfs_ = nfs_init_context();
        if (nfs_ == nullptr) {
            *why = "no NFS client";
            return false;
        }
        nfs_set_version(nfs_, NFS_V4);
        nfs_set_timeout(nfs_, 5000);
        nfs_set_autoreconnect(nfs_, 0);
        nfs_url* parsed = nfs_parse_url_full(nfs_, url.c_str());
        if (parsed == nullptr) {
            *why = nfs_get_error(nfs_);
            return false;
        }
        const bool open = nfs_mount(nfs_, parsed->server, parsed->path) == 0 &&
                          nfs_open(nfs_, parsed->file, O_RDONLY, &file_) == 0;
        nfs_destroy_url(parsed);
        if (!open) {
            *why = nfs_get_error(nfs_);
        }
        return open;
    }
    long Read(std::uint64_t offset, char* buffer, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const int n = nfs_pread(nfs_, file_, offset + done, size - done, buffer + done);
            if (n <= 0) {
                errno = n < 0 ? -n : errno;
                return n < 0 ? -1 : static_cast<long>(done);
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<long>(done);
    }

  private:
    nfs_context* nfs_ = nullptr;
    nfsfh* file_ = nullptr;
};

// A client's process: opens its file, says so on ready (one byte: 'r', or 'f' when it could
// not), waits for its byte on release, reads, and takes the window's snapshot if it is the
// first done. Returns its exit status.
int RunClient(unsigned client, unsigned clients, unsigned long iterations, unsigned block,
              bool random, const std::string& pattern, int ready, int release, Shared* shared) {
    const std::string url = ClientUrl(pattern, client);
    std::unique_ptr<Reader> reader;
    if (url.starts_with("smb://")) {
        reader = std::make_unique<SmbReader>();
    } else {
        reader = std::make_unique<NfsReader>();
    }
    std::string why;
    if (!reader->Open(url, &why)) {
        (void)!write(ready, "f", 1);
        return Fail(client, "cannot open its file", why);
    }
    std::vector<char> buffer(block);
    const unsigned range = (TEST_REGION / block) % 65536; // as the engine: the low 16 bits
    SeedRandom(static_cast<std::uint32_t>(std::time(nullptr)) + client);
    char go = 0;
    if (write(ready, "r", 1) != 1 || read(release, &go, 1) != 1 || go != 'g') {
        return Fail(client, "no release", "the parent went away");
    }
    Counter& mine = shared->clients[client - 1];
    for (unsigned long i = 0; i < iterations; ++i) {
        // The engine's offsets of its random and overlay patterns.
        std::uint64_t offset = OVERLAY_POSITION;
        if (random) {
            const unsigned n = DrawRandom();
            offset = std::uint64_t{range != 0 ? n % range : 0} * block;
            offset = std::min<std::uint64_t>(offset, TEST_REGION - block);
        }
        const long n = reader->Read(offset, buffer.data(), block);
        if (n != static_cast<long>(block)) {
            return Fail(client, "read failed",
                        n < 0 ? std::strerror(errno)
                              : std::to_string(n) + " of " + std::to_string(block) + " bytes at " +
                                    std::to_string(offset));
        }
        mine.done.fetch_add(1, std::memory_order_relaxed);
    }
    const std::int64_t end = NowNs();
    mine.endNs.store(end);
    int expected = 0;
    if (shared->firstDone.compare_exchange_strong(expected, 1)) {
        std::uint64_t total = 0;
        for (unsigned c = 0; c < clients; ++c) {
            total += shared->clients[c].done.load(std::memory_order_relaxed);
        }
        shared->windowOperations.store(total);
        shared->windowEndNs.store(end);
    }
    return 0;
}

// Reads one byte per client from ready within the bound; false unless each said 'r'.
bool AllReady(int ready, unsigned clients) {
    for (unsigned got = 0; got < clients;) {
        pollfd p{ready, POLLIN, 0};
        char word = 0;
        if (poll(&p, 1, kReadyTimeoutMs) != 1 || read(ready, &word, 1) != 1 || word != 'r') {
            return false;
        }
        ++got;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: fleet_limit CLIENTS ITERATIONS BLOCK MODE URL\n");
        return 2;
    }
    const unsigned long clients = std::strtoul(argv[1], nullptr, 10);
    const unsigned long iterations = std::strtoul(argv[2], nullptr, 10);
    const unsigned long block = std::strtoul(argv[3], nullptr, 10);
    const std::string mode = argv[4];
    const std::string pattern = argv[5];
    if (clients < 1 || clients > kMaxClients || iterations < 1 || iterations > kMaxIterations ||
        block < 1 || block > MAX_BUFFER || (mode != "3" && mode != "6") ||
        pattern.size() > kMaxUrl ||
        !(pattern.starts_with("smb://") || pattern.starts_with("nfs://"))) {
        std::fprintf(stderr,
                     "fleet_limit: CLIENTS 1-%u, ITERATIONS 1-%lu, BLOCK 1-%u, MODE 3 "
                     "or 6, an smb:// or nfs:// URL of at most %zu bytes\n",
                     kMaxClients, kMaxIterations, MAX_BUFFER, kMaxUrl);
        return 2;
    }
    void* memory =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int ready[2];
    int release[2];
    if (memory == MAP_FAILED || pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
        std::perror("fleet_limit");
        return 1;
    }
    auto* shared = new (memory) Shared{};
    std::vector<pid_t> pids;
    for (unsigned c = 1; c <= clients; ++c) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(release[1]);
            _exit(RunClient(c, static_cast<unsigned>(clients), iterations,
                            static_cast<unsigned>(block), mode == "3", pattern, ready[1],
                            release[0], shared));
        }
        if (pid < 0) {
            std::perror("fleet_limit: fork");
            for (const pid_t p : pids) {
                kill(p, SIGKILL);
            }
            return 1;
        }
        pids.push_back(pid);
    }
    close(ready[1]);
    close(release[0]);
    bool released = AllReady(ready[0], static_cast<unsigned>(clients));
    const std::int64_t releaseNs = NowNs();
    if (released) {
        const std::string go(clients, 'g');
        released = write(release[1], go.data(), go.size()) == static_cast<ssize_t>(go.size());
    }
    close(release[1]); // a client still waiting sees the end of the pipe and gives up
    // Every client gone within the bound, or killed: the alarm breaks the wait (no restart).
    struct sigaction onAlarm {};
    onAlarm.sa_handler = [](int) {};
    sigaction(SIGALRM, &onAlarm, nullptr);
    alarm(kRunTimeoutS);
    bool good = released;
    for (const pid_t pid : pids) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) {
            for (const pid_t p : pids) {
                kill(p, SIGKILL);
            }
            std::fprintf(stderr, "fleet_limit: the clients overstayed %d s\n", kRunTimeoutS);
            while (wait(nullptr) > 0) {
            }
            return 1;
        }
        good = good && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!good) {
        std::fprintf(stderr, "fleet_limit: %s\n",
                     released ? "a client failed" : "not every client opened its file");
        return 1;
    }
    std::uint64_t operations = 0;
    std::int64_t last = releaseNs;
    for (unsigned c = 0; c < clients; ++c) {
        operations += shared->clients[c].done.load();
        last = std::max(last, shared->clients[c].endNs.load());
    }
    const double window = static_cast<double>(shared->windowEndNs.load() - releaseNs) / 1e9;
    const double whole = static_cast<double>(last - releaseNs) / 1e9;
    if (operations != clients * iterations || window <= 0 || whole <= 0) {
        std::fprintf(stderr, "fleet_limit: %llu of %lu reads counted\n",
                     static_cast<unsigned long long>(operations), clients * iterations);
        return 1;
    }
    std::printf("%.1f %.1f %.6f %llu\n",
                static_cast<double>(shared->windowOperations.load()) / window,
                static_cast<double>(operations) / whole, window,
                static_cast<unsigned long long>(operations));
    return 0;
}
