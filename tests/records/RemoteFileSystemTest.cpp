#include "host/RemoteFileSystem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

namespace vrax {
namespace {

TEST(RemoteFileSystem, TellsNetworkFileSystemsAndSharesFromLocalOnes) {
    // statfs magic numbers: the network ones by name, local and FUSE ones not by themselves.
    EXPECT_EQ(RemoteFileSystemOfMagic(0x6969), "nfs");
    EXPECT_EQ(RemoteFileSystemOfMagic(0xFF534D42), "cifs");
    EXPECT_EQ(RemoteFileSystemOfMagic(0xFE534D42), "smb2");
    EXPECT_EQ(RemoteFileSystemOfMagic(0x517B), "smb");
    EXPECT_EQ(RemoteFileSystemOfMagic(0x01021997), "9p");
    EXPECT_EQ(RemoteFileSystemOfMagic(0x00C36400), "ceph");
    // A signed f_type of 32 bits widened to 64 is the same file system.
    EXPECT_EQ(RemoteFileSystemOfMagic(static_cast<unsigned long>(
                  static_cast<long>(static_cast<std::int32_t>(0xFF534D42)))),
              "cifs");
    for (const unsigned long local : {0xEF53ul, 0x58465342ul, 0x9123683Eul, 0x01021994ul}) {
        EXPECT_EQ(RemoteFileSystemOfMagic(local), "") << std::hex << local;
    }
    EXPECT_EQ(RemoteFileSystemOfMagic(0x65735546), "");
    EXPECT_TRUE(IsFuseMagic(0x65735546));

    // A FUSE mount is told by its type in mountinfo, found by its device.
    const std::string mountInfo =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "90 27 0:52 / /mnt/plant rw,nosuid shared:40 master:2 - fuse.sshfs qa@plant:/ rw\n"
        "91 27 0:53 / /home/op/.cache/doc rw - fuse.portal portal rw\n";
    EXPECT_EQ(MountTypeOfDevice(mountInfo, 0, 52), "fuse.sshfs");
    EXPECT_EQ(MountTypeOfDevice(mountInfo, 254, 0), "ext4");
    EXPECT_EQ(MountTypeOfDevice(mountInfo, 0, 5), "");
    EXPECT_TRUE(IsRemoteMountType("fuse.sshfs"));
    EXPECT_TRUE(IsRemoteMountType("nfs4"));
    EXPECT_FALSE(IsRemoteMountType("fuse.portal"));
    EXPECT_FALSE(IsRemoteMountType("ext4"));

    // Windows paths: a UNC share is remote whatever its drive; a drive letter is asked about.
    EXPECT_TRUE(IsUncPath(R"(\\plant\records\line3.sqlite)"));
    EXPECT_TRUE(IsUncPath("//plant/records/line3.sqlite"));
    EXPECT_TRUE(IsUncPath(R"(\\?\UNC\plant\records\line3.sqlite)"));
    EXPECT_FALSE(IsUncPath(R"(\\?\C:\records\line3.sqlite)"));
    EXPECT_FALSE(IsUncPath(R"(\\.\pipe\x)"));
    EXPECT_FALSE(IsUncPath(R"(C:\records\line3.sqlite)"));
    EXPECT_EQ(DriveLetterOf(R"(s:\records\line3.sqlite)"), 'S');
    EXPECT_EQ(DriveLetterOf(R"(\\?\D:\records)"), 'D');
    EXPECT_EQ(DriveLetterOf(R"(\\plant\records)"), 0);
    EXPECT_EQ(DriveLetterOf("records.sqlite"), 0);

    // The folder the tests run in is this machine's own, and a file's missing folders are
    // walked up from.
    const auto here = std::filesystem::temp_directory_path() / "vrax-none" / "deeper" / "r.sqlite";
    EXPECT_EQ(RemoteFileSystemOf(here.string()), "");
}

} // namespace
} // namespace vrax
