// The file systems that statfs(2) tells apart by their magic number: a name for each the kit
// knows, and which of them keep their data on a server (where a check must reach the server
// and not the client's cache). One table for zebcli's description of the test file's file
// system and vor32's checks on network drives.
#ifndef ZEB_COMMON_FILESYSTEMS_H
#define ZEB_COMMON_FILESYSTEMS_H

#include <string>

namespace filesystems {

// The name of the file system of this magic, "0x..." for one the table does not know.
std::string TypeName(long magic);

// "NFS", "SMB" or "FUSE" where the file system of this magic keeps its data on a server (FUSE
// counted with them: smbnetfs, sshfs and their kind); nullptr for a local one.
const char* NetworkKind(long magic);

// The directory that holds path: all before its last "/", "/" for a file at the root, "."
// for a bare name.
std::string DirectoryOf(const std::string& path);

} // namespace filesystems

#endif
