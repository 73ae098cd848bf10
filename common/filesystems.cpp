#include "filesystems.h"

#include <cstdint>
#include <cstdio>

namespace filesystems {

namespace {

struct Known {
    std::uint32_t magic;
    const char* name;
    const char* network; // the kind of server that holds the data, nullptr when local
};
constexpr Known kKnown[] = {
    {0xEF53, "ext2/ext3", nullptr},
    {0x01021994, "tmpfs", nullptr},
    {0x858458F6, "ramfs", nullptr},
    {0x65735546, "fuseblk", "FUSE"},
    {0x65735543, "fusectl", nullptr},
    {0x9123683E, "btrfs", nullptr},
    {0x58465342, "xfs", nullptr},
    {0x6969, "nfs", "NFS"},
    {0xFF534D42, "cifs", "SMB"},
    {0xFE534D42, "smb2", "SMB"},
    {0x517B, "smb", "SMB"},
    {0x794C7630, "overlayfs", nullptr},
    {0x9FA0, "proc", nullptr},
    {0x62656572, "sysfs", nullptr},
    {0x4D44, "msdos", nullptr},
    {0x2011BAB0, "exfat", nullptr},
    {0x5346544E, "ntfs", nullptr},
    {0xF2F52010, "f2fs", nullptr},
    {0x01161970, "gfs/gfs2", nullptr},
    {0x2FC12FC1, "zfs", nullptr},
    {0x00C36400, "ceph", nullptr},
    {0x6E667364, "nfsd", nullptr},
    {0x73717368, "squashfs", nullptr},
    {0x9660, "isofs", nullptr},
};

const Known* Find(long magic) {
    const auto number = static_cast<std::uint32_t>(magic);
    for (const Known& known : kKnown) {
        if (known.magic == number) {
            return &known;
        }
    }
    return nullptr;
}

} // namespace

std::string TypeName(long magic) {
    if (const Known* known = Find(magic)) {
        return known->name;
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(magic));
    return text;
}

const char* NetworkKind(long magic) {
    const Known* known = Find(magic);
    return known != nullptr ? known->network : nullptr;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace filesystems
