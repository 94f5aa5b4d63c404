// The messages between the manager side and a service's dispatcher (the
// payload of one frame, see wire.h), written and parsed as pure functions of
// bytes. Words are 32-bit in host order, texts a word of length then UTF-8.
//
// Start: StartServiceW hands the new process one end of a socket pair, its
// number in $QUILLON_SCM_CHANNEL, and two more descriptors: its status file
// and its listening control socket. The dispatcher says hello (pid), gets
// the setup and answers ready (or failed, with a code).
//
// Control: ControlService connects to run/<service>/control.sock, sends the
// control code and reads back a result code and the seven status values
// once the handler has returned.
#pragma once

#include "platform/win32_service.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::advapi32 {

inline constexpr const char* kChannelVariable = "QUILLON_SCM_CHANNEL";
inline constexpr const char* kControlSocketName = "control.sock";

inline constexpr std::uint32_t kHello = 0x51534831;  // "QSH1"
inline constexpr std::uint32_t kReady = 0x51535244;  // "QSRD"
inline constexpr std::uint32_t kFailed = 0x51534646; // "QSFF"

struct HelloMessage {
    std::uint32_t pid = 0;
};

struct SetupMessage {
    std::string stateDir;
    std::string name;
    std::vector<std::string> arguments;
    std::int32_t statusFd = -1;  // the process's status file, for writing
    std::int32_t controlFd = -1; // its listening control socket
};

// The dispatcher's answer: ready, or failed with a Windows error code.
struct SetupAnswer {
    bool ready = false;
    DWORD error = ERROR_SUCCESS;
};

struct ControlReply {
    DWORD error = ERROR_SUCCESS;
    SERVICE_STATUS status {};
};

// At most this many start arguments, each at most this long.
inline constexpr std::size_t kMaxArguments = 4096;

std::string encodeHello(const HelloMessage& hello);
std::optional<HelloMessage> parseHello(std::string_view payload);
std::string encodeSetup(const SetupMessage& setup);
std::optional<SetupMessage> parseSetup(std::string_view payload);
std::string encodeSetupAnswer(const SetupAnswer& answer);
std::optional<SetupAnswer> parseSetupAnswer(std::string_view payload);
std::string encodeControlRequest(DWORD control);
std::optional<DWORD> parseControlRequest(std::string_view payload);
std::string encodeControlReply(const ControlReply& reply);
std::optional<ControlReply> parseControlReply(std::string_view payload);

} // namespace quillon::advapi32
