#include "hardware_sources.h"

#include "platform/win32_base.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace quillon::identity {

std::string systemDriveRoot()
{
    char directory[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryA(directory, MAX_PATH);
    // A length of MAX_PATH or more is the size the text would need: nothing
    // was written then.
    if (length == 0 || length >= MAX_PATH || directory[0] == '\0') {
        return {};
    }
    return std::string(directory, std::min<std::size_t>(length, 2)) + "\\";
}

std::string formatVolumeSerial(std::uint32_t serial)
{
    std::ostringstream text;
    text << std::hex << std::setfill('0') << std::setw(4) << (serial >> 16) << '-' << std::setw(4)
         << (serial & 0xFFFFu);
    return text.str();
}

std::string readSystemVolumeSerial()
{
    const std::string root = systemDriveRoot();
    if (root.empty()) {
        return {};
    }
    char volumeName[MAX_PATH] = {};
    char fileSystemName[MAX_PATH] = {};
    DWORD serial = 0;
    DWORD maximumComponentLength = 0;
    DWORD fileSystemFlags = 0;
    if (!GetVolumeInformationA(root.c_str(), volumeName, MAX_PATH, &serial, &maximumComponentLength,
                               &fileSystemFlags, fileSystemName, MAX_PATH)) {
        return {};
    }
    return formatVolumeSerial(static_cast<std::uint32_t>(serial));
}

} // namespace quillon::identity
