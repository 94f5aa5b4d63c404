#include "system_messages.h"

#include <algorithm>
#include <iterator>

namespace quillon::linux_kernel32 {

namespace {
struct Message {
    DWORD code;
    const char* text;
};

// Every code that kernel32 and advapi32 on Linux return, in ascending order.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {24, "The program issued a command but the command length is incorrect."},
    {29, "The system cannot write to the specified device."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {124, "The system call level is not correct."},
    {193, "%1 is not a valid Win32 application."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {487, "Attempt to access invalid address."},
    {1051, "A stop control has been sent to a service that other running services are dependent on."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1054, "A thread could not be created for the service."},
    {1055, "The service database is locked."},
    {1056, "An instance of the service is already running."},
    {1057, "The account name is invalid or does not exist, or the password is invalid for the account name specified."},
    {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices associated with it."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1065, "The database specified does not exist."},
    {1066, "The service has returned a service-specific error code."},
    {1067, "The process terminated unexpectedly."},
    {1069, "The service did not start due to a logon failure."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1077, "No attempts to start the service have been made since the last boot."},
    {1078, "The name is already in use as either a service name or a service display name."},
    {1083, "The executable program that this service is configured to run in does not implement the service."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1460, "This operation returned because the timeout period expired."},
    {1722, "The RPC server is unavailable."},
};
} // namespace

const char* systemMessageText(DWORD code)
{
    const auto* found = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                                         [](const Message& m, DWORD c) { return m.code < c; });
    return found != std::end(kMessages) && found->code == code ? found->text : nullptr;
}

} // namespace quillon::linux_kernel32
