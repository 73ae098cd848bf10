// The file I/O stress's access patterns and cache modes, named once: their numbers as the
// engine takes them, the texts the dialog and zebcli show, and what each pattern moves.
#ifndef ZEB_MODES_H
#define ZEB_MODES_H

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "zebdll.h"

namespace modes {

// The access patterns, numbered as SQL_Test takes them.
enum class AccessMode : int {
    SequentialRead = 0,
    SequentialWrite,
    SequentialReadWrite,
    RandomRead,
    RandomWrite,
    RandomReadWrite,
    OverlayRead,
    OverlayWrite,
    OverlayReadWrite,
};
inline constexpr std::size_t kAccessModeCount = 9;

// The patterns' texts in number order, as the dialog's list and zebcli show them.
inline constexpr std::array<std::string_view, kAccessModeCount> kAccessModeNames = {
    "Sequential Read", "Sequential Write", "Sequential R & W", "Random Read",  "Random Write",
    "Random R & W",    "Overlay Read",     "Overlay Write",    "Overlay R & W"};

constexpr int Index(AccessMode mode) {
    return static_cast<int>(mode);
}

// The pattern of an engine number; nullopt outside 0-8.
constexpr std::optional<AccessMode> AccessModeOf(int index) {
    if (index < 0 || index >= static_cast<int>(kAccessModeCount)) {
        return std::nullopt;
    }
    return static_cast<AccessMode>(index);
}

constexpr std::string_view Name(AccessMode mode) {
    return kAccessModeNames[static_cast<std::size_t>(mode)];
}

// Each pattern is one of read, write, or read-and-write, in that order within its family
// (sequential, random, overlay).
constexpr int FamilyPosition(AccessMode mode) {
    return Index(mode) % 3;
}

// A write and then a read of the same block in every iteration.
constexpr bool ReadsAndWrites(AccessMode mode) {
    return FamilyPosition(mode) == 2;
}

// The patterns that read the test file during the pass.
constexpr bool Reads(AccessMode mode) {
    return FamilyPosition(mode) != 1;
}

// The patterns that write it; the engine checks the whole file after such a pass.
constexpr bool Writes(AccessMode mode) {
    return FamilyPosition(mode) != 0;
}

// The patterns that work on the block at the overlay position.
constexpr bool IsOverlay(AccessMode mode) {
    return mode >= AccessMode::OverlayRead;
}

// Transfers of the test file per iteration: two for read-and-write, else one.
constexpr unsigned TransfersPerIteration(AccessMode mode) {
    return ReadsAndWrites(mode) ? 2 : 1;
}

// How the file I/O stress reaches the test file (SetFileCacheMode).
enum class CacheMode : int {
    Plain = ZEB_CACHE_PLAIN,
    Direct = ZEB_CACHE_DIRECT,
    Drop = ZEB_CACHE_DROP,
};
static_assert(ZEB_CACHE_PLAIN == 0 && ZEB_CACHE_DIRECT == 1 && ZEB_CACHE_DROP == 2,
              "kCacheModeNames is indexed by the engine's cache mode");

// The cache modes' names in number order, as zebcli takes and shows them.
inline constexpr std::array<std::string_view, 3> kCacheModeNames = {"plain", "direct", "drop"};

constexpr std::string_view Name(CacheMode mode) {
    return kCacheModeNames[static_cast<std::size_t>(mode)];
}

// The cache mode of a name, exactly as spelled in kCacheModeNames; nullopt for any other.
constexpr std::optional<CacheMode> CacheModeOf(std::string_view name) {
    for (std::size_t i = 0; i < kCacheModeNames.size(); ++i) {
        if (kCacheModeNames[i] == name) {
            return static_cast<CacheMode>(i);
        }
    }
    return std::nullopt;
}

} // namespace modes

#endif
