// The command-line split and the control rules, linked in from the layer's
// sources (the library exports only the advapi32 functions).
#include "../command_line.h"
#include "../control_rules.h"

#include <gtest/gtest.h>

using quillon::advapi32::controlRefusal;
using quillon::advapi32::rightForControl;
using quillon::advapi32::splitCommandLine;

namespace {

TEST(CommandLine, SplitsLikeTheServiceManager)
{
    using Parts = std::vector<std::string>;
    const std::pair<std::string, Parts> cases[] = {
        {"/opt/quillon/quillonsvc", {"/opt/quillon/quillonsvc"}},
        {"\"/opt/Quillon Server/quillonsvc\"", {"/opt/Quillon Server/quillonsvc"}},
        {"\"/opt/Quillon Server/quillonsvc\" -x", {"/opt/Quillon Server/quillonsvc", "-x"}},
        // An unquoted path ends at the first blank: never another program.
        {"/opt/Quillon Server/quillonsvc", {"/opt/Quillon", "Server/quillonsvc"}},
        {"  prog   a\tb  ", {"prog", "a", "b"}},
        {"prog \"two words\" x\"y z\"w", {"prog", "two words", "xy zw"}},
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},   // 2n backslashes + quote
        {"prog a\\\"b", {"prog", "a\"b"}},            // 2n+1 backslashes + quote
        {"prog a\\\\b \\", {"prog", "a\\\\b", "\\"}}, // backslashes without a quote
        {"prog \"a\"\"b\"", {"prog", "a\"b"}},        // "" inside quotes
        {"prog \"\"", {"prog", ""}},
        {"C:\\Windows\\prog.exe arg", {"C:\\Windows\\prog.exe", "arg"}},
        {"\"unterminated path", {"unterminated path"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& [line, parts] : cases)
        EXPECT_EQ(splitCommandLine(line), parts) << line;
}

TEST(ControlRules, RightsAndRefusals)
{
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_STOP), SERVICE_STOP);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_SHUTDOWN), SERVICE_STOP);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_PAUSE), SERVICE_PAUSE_CONTINUE);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_CONTINUE), SERVICE_PAUSE_CONTINUE);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_INTERROGATE), SERVICE_INTERROGATE);
    EXPECT_EQ(rightForControl(128), SERVICE_USER_DEFINED_CONTROL);
    EXPECT_EQ(rightForControl(255), SERVICE_USER_DEFINED_CONTROL);
    for (const DWORD invalid : {0u, 11u, 127u, 256u, 0xFFFFFFFFu})
        EXPECT_EQ(rightForControl(invalid), 0u) << invalid;

    auto status = [](DWORD state, DWORD accepted) {
        SERVICE_STATUS s {};
        s.dwCurrentState = state;
        s.dwControlsAccepted = accepted;
        return s;
    };
    const DWORD stopOnly = SERVICE_ACCEPT_STOP;
    const DWORD all = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    struct Case {
        DWORD control;
        SERVICE_STATUS status;
        DWORD error;
    };
    const Case cases[] = {
        {SERVICE_CONTROL_STOP, status(SERVICE_RUNNING, stopOnly), ERROR_SUCCESS},
        {SERVICE_CONTROL_STOP, status(SERVICE_RUNNING, 0), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_STOP, status(SERVICE_PAUSED, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_PAUSE, status(SERVICE_RUNNING, stopOnly), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_PAUSE, status(SERVICE_RUNNING, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_CONTINUE, status(SERVICE_PAUSED, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_SHUTDOWN, status(SERVICE_RUNNING, stopOnly), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_SHUTDOWN, status(SERVICE_RUNNING, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_RUNNING, 0), ERROR_SUCCESS},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_PAUSE_PENDING, 0), ERROR_SUCCESS},
        {200, status(SERVICE_RUNNING, 0), ERROR_SUCCESS},
        {200, status(SERVICE_PAUSED, 0), ERROR_SUCCESS},
        {SERVICE_CONTROL_STOP, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_STOP_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {200, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_STOPPED, all), ERROR_SERVICE_NOT_ACTIVE},
        {200, status(SERVICE_STOPPED, all), ERROR_SERVICE_NOT_ACTIVE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(controlRefusal(c.control, c.status), c.error)
            << "control " << c.control << " in state " << c.status.dwCurrentState;
}

} // namespace
