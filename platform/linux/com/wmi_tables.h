// The WMI classes the machine identity asks about, as rows of property
// values: what the WMI objects of this layer answer from.
#pragma once

#include "platform/win32_com.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::linux_com {

// One property value of a WMI row.
struct WmiValue {
    enum class Kind {
        Null,     // VT_NULL
        Text,     // VT_BSTR
        Number,   // VT_I4, as WMI gives 32-bit integers
        Boolean,  // VT_BOOL
        Object,   // VT_UNKNOWN: an embedded object, which no conversion turns into text
        GetFails, // IWbemClassObject::Get fails for this property
    };
    Kind kind = Kind::Null;
    std::u16string text;
    std::int32_t number = 0;
    bool boolean = false;

    static WmiValue null() { return {}; }
    static WmiValue ofText(std::u16string value) { return {Kind::Text, std::move(value), 0, false}; }
    static WmiValue ofNumber(std::int32_t value) { return {Kind::Number, {}, value, false}; }
    static WmiValue ofBoolean(bool value) { return {Kind::Boolean, {}, 0, value}; }
    static WmiValue object() { return {Kind::Object, {}, 0, false}; }
    static WmiValue failingGet() { return {Kind::GetFails, {}, 0, false}; }
};

struct WmiRow {
    std::vector<std::pair<std::u16string, WmiValue>> properties;
    bool nextFails = false; // IEnumWbemClassObject::Next fails on reaching this row

    const WmiValue* find(const std::u16string& name) const;
};

// The three classes, in the order WMI lists them.
struct WmiTables {
    std::vector<WmiRow> computerSystemProducts; // UUID
    std::vector<WmiRow> diskPartitions;         // Index, DiskIndex, BootPartition
    std::vector<WmiRow> diskDrives;             // Index, SerialNumber
};

// The tables as the layer reads them from this machine.
WmiTables readMachineTables();

// A block device's number, as /sys/block/<name>/dev gives it.
struct BlockDeviceNumber {
    unsigned majorNumber = 0;
    unsigned minorNumber = 0;
    bool operator==(const BlockDeviceNumber& other) const
    {
        return majorNumber == other.majorNumber && minorNumber == other.minorNumber;
    }
};

// The same from a sysfs tree at sysRoot, with the boot file system on the
// given device (none: not on any block device).
WmiTables readMachineTables(const std::string& sysRoot, std::optional<BlockDeviceNumber> bootDevice);

} // namespace quillon::linux_com
