// The WQL the machine identity sends and the properties it reads. The
// identity code sends exactly these texts; our Linux WMI layer understands
// exactly these, so both take them from here.
#pragma once

namespace quillon::platform::wmi {

inline constexpr char kSystemUuidQuery[] = "SELECT UUID FROM Win32_ComputerSystemProduct";
inline constexpr char kSystemUuidProperty[] = "UUID";

inline constexpr char kBootPartitionQuery[] = "SELECT Index FROM win32_diskpartition where BootPartition=true";
inline constexpr char kBootPartitionProperty[] = "Index";

// Followed immediately by the drive's index in decimal digits.
inline constexpr char kDriveSerialQueryPrefix[] = "SELECT SerialNumber FROM win32_diskdrive where index=";
inline constexpr char kDriveSerialProperty[] = "SerialNumber";

} // namespace quillon::platform::wmi
