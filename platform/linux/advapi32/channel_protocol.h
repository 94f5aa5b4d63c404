// How a started service process and the service manager talk.
//
// Start: StartServiceW hands the new process one end of a socket pair, its
// number in $QUILLON_SCM_CHANNEL. The dispatcher says hello (pid), gets the
// state directory, its run folder, the service name and the start arguments,
// opens its control socket and answers ready (or failed, with a code).
//
// Control: ControlService connects to <run folder>/control.sock, sends the
// control code and reads back a result code and the seven status values
// once the handler has returned.
#pragma once

#include <cstdint>

namespace quillon::advapi32 {

inline constexpr const char* kChannelVariable = "QUILLON_SCM_CHANNEL";
inline constexpr const char* kControlSocketName = "control.sock";

inline constexpr std::uint32_t kHello = 0x51534831;  // "QSH1"
inline constexpr std::uint32_t kReady = 0x51535244;  // "QSRD"
inline constexpr std::uint32_t kFailed = 0x51534646; // "QSFF"

} // namespace quillon::advapi32
