// The floor for vor32's local run: the same reads and writes through one buffer, and the
// same check of every cell, with nothing else (no exclusive opens, no locks, no log, no
// messages). Grows a file of cells from MIN to MAX bytes in STEP-byte steps, copying it
// between the two directories before each step and reading the copy back to check it.
//   bareloop MIN MAX STEP DIR_A DIR_B
// Exits 0 when every check held, 1 otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kBuffer = 1200000; // vor32's transfer buffer at these sizes

std::vector<unsigned char> Buffer(kBuffer);

bool Fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "bareloop: %s %s\n", what, path.c_str());
    return false;
}

// Appends count bytes of cells that continue from the cell at offset from.
bool Append(const std::string& path, std::uint32_t from, std::uint32_t count) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Fail("cannot open", path);
    }
    std::uint32_t value = from / 4;
    const std::uint32_t end = value + count / 4;
    while (value < end) {
        const std::uint32_t cells = std::min(end - value, kBuffer / 4);
        for (std::uint32_t k = 0; k < cells; ++k) {
            const std::uint32_t cell = value + k;
            std::memcpy(Buffer.data() + 4 * std::size_t{k}, &cell, 4);
        }
        value += cells;
        if (write(fd, Buffer.data(), std::size_t{cells} * 4) != static_cast<ssize_t>(cells) * 4) {
            close(fd);
            return Fail("cannot write", path);
        }
    }
    close(fd);
    return true;
}

bool Copy(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool good = in >= 0 && out >= 0;
    for (ssize_t n = kBuffer; good && n == kBuffer;) {
        n = read(in, Buffer.data(), kBuffer);
        good = n >= 0 && write(out, Buffer.data(), static_cast<std::size_t>(n)) == n;
    }
    close(in);
    close(out);
    return good || Fail("cannot copy to", to);
}

bool Check(const std::string& path, std::uint32_t size) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fail("cannot open", path);
    }
    std::uint32_t expected = 0;
    std::uint64_t total = 0;
    ssize_t n;
    do {
        n = read(fd, Buffer.data(), kBuffer);
        if (n < 0) {
            close(fd);
            return Fail("cannot read", path);
        }
        total += static_cast<std::uint64_t>(n);
        for (std::size_t at = 0; at + 4 <= static_cast<std::size_t>(n); at += 4, ++expected) {
            std::uint32_t cell;
            std::memcpy(&cell, Buffer.data() + at, 4);
            if (cell != expected) {
                close(fd);
                return Fail("wrong cell in", path);
            }
        }
    } while (n == kBuffer);
    close(fd);
    return total == size || Fail("wrong size of", path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: bareloop MIN MAX STEP DIR_A DIR_B\n");
        return 2;
    }
    const auto min = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) & ~3u;
    const auto max = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) & ~3u;
    const auto step = std::max<std::uint32_t>(
        static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) & ~3u, 4);
    const std::string paths[] = {std::string(argv[4]) + "/bare.data",
                                 std::string(argv[5]) + "/bare.data"};
    unlink(paths[0].c_str());
    if (!Append(paths[0], 0, min) || !Check(paths[0], min)) {
        return 1;
    }
    std::uint32_t size = min;
    for (int at = 0;; at = 1 - at) {
        if (!Copy(paths[at], paths[1 - at]) || !Check(paths[1 - at], size)) {
            return 1;
        }
        if (size >= max) {
            return 0;
        }
        if (!Append(paths[1 - at], size, step)) {
            return 1;
        }
        size += step;
    }
}
