#pragma once

#include <string>

namespace vrax {

// The network file system that holds path, or the nearest folder above it that exists: "nfs",
// "cifs", "9p", "fuse.sshfs", "a network share", "a network drive"... Empty when it is local
// or cannot be told.
std::string RemoteFileSystemOf(const std::string& path);

// The decisions behind it, apart from the system's calls.

// The name of a network file system by its statfs f_type; empty for any other.
std::string RemoteFileSystemOfMagic(unsigned long magic);
// A FUSE file system's magic says nothing of where its files are; its mount type does.
bool IsFuseMagic(unsigned long magic);
// The file system type of the mount of the device major:minor in /proc/self/mountinfo's text;
// empty when no line has it.
std::string MountTypeOfDevice(const std::string& mountInfo, unsigned major, unsigned minor);
// Whether a mount type (as mountinfo gives it) is a network file system.
bool IsRemoteMountType(const std::string& type);

// "\\server\share\..." or "\\?\UNC\server\share\...".
bool IsUncPath(const std::string& path);
// The drive letter of "C:\..." or "\\?\C:\...", upper case; 0 when the path has none.
char DriveLetterOf(const std::string& path);

} // namespace vrax
