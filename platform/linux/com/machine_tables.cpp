// The WMI tables as this machine's kernel describes it:
// - Win32_ComputerSystemProduct: one row when the firmware offers DMI data;
//   UUID from /sys/class/dmi/id/product_uuid, uppercase as WMI gives it, null
//   when it cannot be read (it is readable by root only).
// - Win32_DiskDrive: the disks in /sys/block that sit on a device (not loop,
//   zram, device-mapper and the like), indexed in the order of their names;
//   SerialNumber as the kernel reports it, null when it reports none.
// - Win32_DiskPartition: the partitions of those disks; Index is the
//   partition's place on its disk, counted from 0; BootPartition is true for
//   the partition that holds the boot file system (/boot/efi, /efi, /boot or,
//   failing those, /). A file system on a whole disk, a volume manager or the
//   network is on no partition, so no row is a boot partition then.
#include "wmi_query.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quillon::linux_com {

namespace {

namespace fs = std::filesystem;

// A sysfs attribute without the line feed that ends a text attribute, or
// nothing when it cannot be read.
std::optional<std::string> readAttribute(const fs::path& path, bool isText = true)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    if (isText && !text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::u16string widened(const std::string& text)
{
    std::u16string wide;
    for (const char c : text) {
        wide.push_back(static_cast<unsigned char>(c));
    }
    return wide;
}

WmiValue textOrNull(const std::optional<std::string>& text)
{
    return text && !text->empty() ? WmiValue::ofText(widened(*text)) : WmiValue::null();
}

std::optional<std::string> serialFromVpdPage(const fs::path& path)
{
    // VPD page 0x80: a four-byte header whose last two bytes give the length of
    // the serial that follows.
    const auto page = readAttribute(path, /*isText=*/false);
    if (!page || page->size() < 4 || static_cast<unsigned char>((*page)[1]) != 0x80) {
        return std::nullopt;
    }
    const std::size_t length = (static_cast<unsigned char>((*page)[2]) << 8) | static_cast<unsigned char>((*page)[3]);
    return page->substr(4, length);
}

std::optional<std::string> diskSerial(const fs::path& disk)
{
    for (const char* attribute : {"serial", "device/serial"}) {
        if (auto serial = readAttribute(disk / attribute); serial && !serial->empty()) {
            return serial;
        }
    }
    return serialFromVpdPage(disk / "device/vpd_pg80");
}

// Disks backed by a device, in the order of their names.
std::vector<fs::path> physicalDisks(const fs::path& sysRoot)
{
    std::vector<fs::path> disks;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysRoot / "block", error)) {
        if (fs::exists(entry.path() / "device", error)) {
            disks.push_back(entry.path());
        }
    }
    std::sort(disks.begin(), disks.end());
    return disks;
}

// The device number of the file system mounted at the boot mount point.
std::optional<BlockDeviceNumber> bootFileSystemDevice()
{
    for (const char* mountPoint : {"/boot/efi", "/efi", "/boot", "/"}) {
        struct stat mounted {};
        struct stat parent {};
        if (::stat(mountPoint, &mounted) != 0) {
            continue;
        }
        const std::string parentPath = std::string(mountPoint) + "/..";
        const bool isMountPoint = std::string(mountPoint) == "/" ||
                                  (::stat(parentPath.c_str(), &parent) == 0 && parent.st_dev != mounted.st_dev);
        if (isMountPoint) {
            return BlockDeviceNumber{major(mounted.st_dev), minor(mounted.st_dev)};
        }
    }
    return std::nullopt;
}

std::optional<BlockDeviceNumber> deviceNumberOf(const fs::path& blockDevice)
{
    const auto text = readAttribute(blockDevice / "dev");
    BlockDeviceNumber number;
    char colon = 0;
    std::istringstream in(text.value_or(""));
    if (!(in >> number.majorNumber >> colon >> number.minorNumber) || colon != ':') {
        return std::nullopt;
    }
    return number;
}

WmiRow computerSystemProduct(const fs::path& dmi)
{
    auto uuid = readAttribute(dmi / "product_uuid");
    if (uuid) {
        std::transform(uuid->begin(), uuid->end(), uuid->begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    }
    return WmiRow{{{u"UUID", textOrNull(uuid)}}, false};
}


// The tables a query of the given class needs; the others stay empty.
WmiTables readMachineTablesFor(const std::string& sysRoot, bool products, bool drives, bool partitions,
                               std::optional<BlockDeviceNumber> bootDevice)
{
    WmiTables tables;
    std::error_code error;
    const fs::path dmi = fs::path(sysRoot) / "class/dmi/id";
    if (products && fs::exists(dmi, error)) {
        tables.computerSystemProducts.push_back(computerSystemProduct(dmi));
    }
    if (!drives && !partitions) {
        return tables;
    }

    const auto disks = physicalDisks(sysRoot);
    for (std::size_t diskIndex = 0; diskIndex < disks.size(); ++diskIndex) {
        const fs::path& disk = disks[diskIndex];
        const auto index = static_cast<std::int32_t>(diskIndex);
        if (drives) {
            tables.diskDrives.push_back(WmiRow{
                {{u"Index", WmiValue::ofNumber(index)}, {u"SerialNumber", textOrNull(diskSerial(disk))}}, false});
        }
        if (!partitions) {
            continue;
        }
        std::vector<std::pair<long, fs::path>> found;
        for (const auto& entry : fs::directory_iterator(disk, error)) {
            if (const auto number = readAttribute(entry.path() / "partition")) {
                try {
                    found.emplace_back(std::stol(*number), entry.path());
                } catch (const std::logic_error&) {
                    // not a partition number: not a partition
                }
            }
        }
        std::sort(found.begin(), found.end());
        for (const auto& [number, partition] : found) {
            const bool boot = bootDevice && deviceNumberOf(partition) == bootDevice;
            tables.diskPartitions.push_back(WmiRow{{{u"Index", WmiValue::ofNumber(static_cast<std::int32_t>(number - 1))},
                                                    {u"DiskIndex", WmiValue::ofNumber(index)},
                                                    {u"BootPartition", WmiValue::ofBoolean(boot)}},
                                                   false});
        }
    }
    return tables;
}

} // namespace

WmiTables readMachineTables()
{
    return readMachineTables("/sys", bootFileSystemDevice());
}

WmiTables readMachineTables(const std::string& sysRoot, std::optional<BlockDeviceNumber> bootDevice)
{
    return readMachineTablesFor(sysRoot, true, true, true, bootDevice);
}

WmiTables readMachineTablesFor(const WmiQuery& query)
{
    switch (query.source) {
    case WmiQuery::Source::ComputerSystemProduct:
        return readMachineTablesFor("/sys", true, false, false, std::nullopt);
    case WmiQuery::Source::BootDiskPartition:
        return readMachineTablesFor("/sys", false, false, true, bootFileSystemDevice());
    case WmiQuery::Source::DiskDriveWithIndex:
        return readMachineTablesFor("/sys", false, true, false, std::nullopt);
    }
    return {};
}

} // namespace quillon::linux_com
