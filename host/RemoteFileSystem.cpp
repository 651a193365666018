#include "host/RemoteFileSystem.h"

#include <cctype>
#include <filesystem>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <iterator>
#endif

namespace vrax {

namespace {

constexpr unsigned long FuseMagic = 0x65735546;

std::filesystem::path NearestExistingFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(path, error).parent_path();
    while (!std::filesystem::is_directory(folder, error) && folder.has_relative_path()) {
        folder = folder.parent_path();
    }
    return folder;
}

} // namespace

std::string RemoteFileSystemOfMagic(unsigned long magic) {
    struct Named {
        unsigned long magic;
        const char* name;
    };
    static constexpr Named remote[] = {
        {0x6969, "nfs"},        {0x517B, "smb"},      {0xFF534D42, "cifs"},
        {0xFE534D42, "smb2"},   {0x01021997, "9p"},   {0x5346414F, "afs"},
        {0x6B414653, "afs"},    {0x00C36400, "ceph"}, {0x01161970, "gfs2"},
        {0x7461636F, "ocfs2"},  {0x564C, "ncpfs"},    {0x73757245, "coda"},
        {0x0BD00BD0, "lustre"}, {0x47504653, "gpfs"}, {0x20030528, "orangefs"},
    };
    for (const Named& named : remote) {
        if (named.magic == (magic & 0xFFFFFFFFul)) {
            return named.name;
        }
    }
    return {};
}

bool IsFuseMagic(unsigned long magic) {
    return (magic & 0xFFFFFFFFul) == FuseMagic;
}

std::string MountTypeOfDevice(const std::string& mountInfo, unsigned major, unsigned minor) {
    const std::string device = std::to_string(major) + ":" + std::to_string(minor);
    std::istringstream lines(mountInfo);
    for (std::string line; std::getline(lines, line);) {
        // "36 35 98:0 /root /mount rw,noatime master:1 - ext4 /dev/sda1 rw"
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        if (numbers != device) {
            continue;
        }
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(separator + 3));
        std::string type;
        rest >> type;
        return type;
    }
    return {};
}

bool IsRemoteMountType(const std::string& type) {
    static const char* const remote[] = {
        "nfs",          "nfs4",        "cifs",           "smb3",      "smbfs",
        "9p",           "afs",         "ceph",           "gfs2",      "ocfs2",
        "lustre",       "gpfs",        "ncpfs",          "coda",      "davfs",
        "fuse.sshfs",   "fuse.rclone", "fuse.glusterfs", "fuse.s3fs", "fuse.ceph-fuse",
        "fuse.gcsfuse",
    };
    for (const char* name : remote) {
        if (type == name) {
            return true;
        }
    }
    return false;
}

bool IsUncPath(const std::string& path) {
    const auto slash = [&](std::size_t i) {
        return i < path.size() && (path[i] == '\\' || path[i] == '/');
    };
    if (!slash(0) || !slash(1)) {
        return false;
    }
    if (path.size() > 2 && (path[2] == '?' || path[2] == '.') && slash(3)) {
        // "\\?\UNC\server\share"; "\\?\C:\" and devices ("\\.\") are no share.
        std::string rest = path.substr(4, 4);
        for (char& c : rest) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return rest == "UNC\\" || rest == "UNC/";
    }
    return path.size() > 2;
}

char DriveLetterOf(const std::string& path) {
    std::size_t start = 0;
    if (path.size() >= 4 && (path[0] == '\\' || path[0] == '/') &&
        (path[1] == '\\' || path[1] == '/') && path[2] == '?' &&
        (path[3] == '\\' || path[3] == '/')) {
        start = 4;
    }
    if (path.size() < start + 2 || path[start + 1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(path[start]))) {
        return 0;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[start])));
}

std::string RemoteFileSystemOf(const std::string& path) {
    const std::filesystem::path folder = NearestExistingFolder(path);
#ifdef _WIN32
    // Only the path's start is looked at; anything beyond ASCII there is no share's mark.
    std::string text;
    for (const wchar_t c : folder.wstring()) {
        text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    if (IsUncPath(text)) {
        return "a network share";
    }
    const char drive = DriveLetterOf(text);
    if (drive != 0) {
        const wchar_t root[] = {static_cast<wchar_t>(drive), L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_REMOTE) {
            return std::string("a network drive (") + drive + ":)";
        }
    }
    return {};
#else
    struct statfs system {};
    if (statfs(folder.c_str(), &system) != 0) {
        return {};
    }
    const auto magic = static_cast<unsigned long>(system.f_type);
    if (!IsFuseMagic(magic)) {
        return RemoteFileSystemOfMagic(magic);
    }
    struct stat status {};
    std::ifstream file("/proc/self/mountinfo");
    if (stat(folder.c_str(), &status) != 0 || !file) {
        return {};
    }
    const std::string mountInfo{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
    const std::string type =
        MountTypeOfDevice(mountInfo, major(status.st_dev), minor(status.st_dev));
    return IsRemoteMountType(type) ? type : std::string{};
#endif
}

} // namespace vrax
