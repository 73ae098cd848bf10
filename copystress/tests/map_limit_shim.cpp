// Preloaded into vor32 by the transfer buffer tests: refuses every anonymous mapping larger
// than VOR32_TEST_MAP_LIMIT bytes, as a machine short of memory refuses a large fixed block.
// File mappings and the C library's own mappings are left alone.
#include <sys/mman.h>

#include <cerrno>
#include <cstdlib>

#include <dlfcn.h>

namespace {

using MmapCall = void* (*)(void*, std::size_t, int, int, int, off_t);

} // namespace

// The C library's header names the parameters with names reserved to it.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" void* mmap(void* address, std::size_t length, int protection, int flags, int fd,
                      off_t offset) noexcept {
    static const auto next = reinterpret_cast<MmapCall>(dlsym(RTLD_NEXT, "mmap"));
    static const char* limit = std::getenv("VOR32_TEST_MAP_LIMIT");
    if ((flags & MAP_ANONYMOUS) != 0 && limit != nullptr &&
        length > std::strtoull(limit, nullptr, 10)) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return next(address, length, protection, flags, fd, offset);
}
