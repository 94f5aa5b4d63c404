// GetSystemWindowsDirectoryA and GetVolumeInformationA. The root file system
// stands for the drive that holds the Windows directory, so the directory is
// "C:\Windows" and "C:\" is the one volume there is.
#include "fixtures.h"
#include "platform/win32_base.h"

#include <sys/statfs.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr char kWindowsDirectory[] = "C:\\Windows";
constexpr DWORD kErrorBadLength = 24;
constexpr DWORD kCaseSensitiveSearch = 0x1;
constexpr DWORD kCasePreservedNames = 0x2;

bool sameRoot(const std::string& asked, const std::string& root)
{
    return asked.size() == root.size() &&
           std::equal(asked.begin(), asked.end(), root.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
           });
}

// The drive root of a Windows directory text: its first two characters and a
// backslash.
std::string rootOf(const std::string& windowsDirectory)
{
    return windowsDirectory.size() < 2 ? std::string() : windowsDirectory.substr(0, 2) + "\\";
}

// The type of the file system mounted at "/", as the kernel names it.
std::string rootFileSystemType()
{
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::string type;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        if (mountPoint != "/") {
            continue;
        }
        const auto separator = line.find(" - ");
        if (separator != std::string::npos) {
            std::istringstream rest(line.substr(separator + 3));
            rest >> type; // the last mount on "/" is the visible one
        }
    }
    return type;
}

bool copyText(const std::string& text, LPSTR buffer, DWORD size)
{
    if (buffer == nullptr) {
        return true;
    }
    if (text.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

struct VolumeFacts {
    DWORD serial = 0;
    DWORD maximumComponentLength = 255;
    std::string fileSystemName;
};

// The volume serial is the root file system's own identifier, f_fsid of
// statfs, folded to 32 bits (its two halves exclusive-or'ed). Like a Windows
// volume serial it is set when the file system is made: ext4 and btrfs derive
// it from the UUID in their superblock (ext4 folds the 128-bit UUID to these
// 64 bits), so it survives reboots and moving the disk, and changes when the
// file system is made anew. Unlike reading the superblock UUID itself it needs
// no access to the block device (root only) and no udev database, and it
// works on every file system and in containers. File systems without an
// identifier of their own give their device number or zero, as a Windows
// volume without a serial reports zero.
bool rootVolumeFacts(VolumeFacts& facts)
{
    struct statfs info {};
    if (::statfs("/", &info) != 0) {
        return false;
    }
    int halves[2];
    static_assert(sizeof(halves) == sizeof(info.f_fsid), "f_fsid holds two ints");
    std::memcpy(halves, &info.f_fsid, sizeof(halves));
    facts.serial = static_cast<DWORD>(halves[0]) ^ static_cast<DWORD>(halves[1]);
    facts.maximumComponentLength = static_cast<DWORD>(info.f_namelen);
    facts.fileSystemName = rootFileSystemType();
    return true;
}

} // namespace

extern "C" UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size)
{
    std::string directory = kWindowsDirectory;
    if (const auto fixture = quillon::linux_kernel32::systemVolumeFixture()) {
        if (!fixture->windowsDirectory) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        directory = *fixture->windowsDirectory;
    }
    if (buffer == nullptr || directory.size() + 1 > size) {
        return static_cast<UINT>(directory.size() + 1); // the size it needs
    }
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<UINT>(directory.size());
}

extern "C" BOOL GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                                      LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                      LPDWORD fileSystemFlags, LPSTR fileSystemNameBuffer,
                                      DWORD fileSystemNameSize)
{
    const std::string asked = rootPathName != nullptr ? rootPathName : "";
    quillon::linux_kernel32::noteVolumeRootAsked(asked);

    VolumeFacts facts;
    if (const auto fixture = quillon::linux_kernel32::systemVolumeFixture()) {
        if (!fixture->windowsDirectory || !sameRoot(asked, rootOf(*fixture->windowsDirectory)) ||
            !fixture->volumeSerial) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        facts.serial = *fixture->volumeSerial;
        facts.fileSystemName = "NTFS";
    } else if (!sameRoot(asked, rootOf(kWindowsDirectory))) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    } else if (!rootVolumeFacts(facts)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }

    // The root file system carries no label.
    if (!copyText("", volumeNameBuffer, volumeNameSize) ||
        !copyText(facts.fileSystemName, fileSystemNameBuffer, fileSystemNameSize)) {
        SetLastError(kErrorBadLength);
        return FALSE;
    }
    if (volumeSerialNumber != nullptr) {
        *volumeSerialNumber = facts.serial;
    }
    if (maximumComponentLength != nullptr) {
        *maximumComponentLength = facts.maximumComponentLength;
    }
    if (fileSystemFlags != nullptr) {
        *fileSystemFlags = kCaseSensitiveSearch | kCasePreservedNames;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
