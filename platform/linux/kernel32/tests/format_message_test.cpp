// FormatMessageW as the error texts of the system reach quillonsvc: the
// Windows text of each code the layer sets, ended by CR LF.
#include "platform/win32_base.h"
#include "utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string message(DWORD code, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                    DWORD language = 0, DWORD size = 512)
{
    std::u16string buffer(size, u'\0');
    const DWORD length = FormatMessageW(flags, nullptr, code, language, buffer.data(), size, nullptr);
    if (length == 0)
        return "<fails " + std::to_string(GetLastError()) + ">";
    buffer.resize(length);
    return quillon::linux_text::utf16ToUtf8(buffer);
}

TEST(FormatMessage, TheWindowsTextsOfTheCodesTheLayerSets)
{
    const std::pair<DWORD, const char*> cases[] = {
        {0, "The operation completed successfully.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {193, "%1 is not a valid Win32 application.\r\n"},
        {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
        {1055, "The service database is locked.\r\n"},
        {1056, "An instance of the service is already running.\r\n"},
        {1060, "The specified service does not exist as an installed service.\r\n"},
        {1062, "The service has not been started.\r\n"},
        {1063, "The service process could not connect to the service controller.\r\n"},
        {1067, "The process terminated unexpectedly.\r\n"},
        {1072, "The specified service has been marked for deletion.\r\n"},
        {1073, "The specified service already exists.\r\n"},
        {1460, "This operation returned because the timeout period expired.\r\n"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(message(code), text) << code;
    // US English and the neutral languages read the same.
    EXPECT_EQ(message(1062, FORMAT_MESSAGE_FROM_SYSTEM, 0x0409), "The service has not been started.\r\n");
}

TEST(FormatMessage, RefusalsAsOnWindows)
{
    struct Case {
        const char* what;
        DWORD code;
        DWORD flags;
        DWORD language;
        DWORD size;
        DWORD error;
    };
    const DWORD system = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const Case cases[] = {
        {"a code without text", 4242, system, 0, 512, 317},
        {"another language", 5, system, 0x0407, 512, 317},
        {"a buffer too small", 1062, system, 0, 10, ERROR_INSUFFICIENT_BUFFER},
        {"not from the system", 5, FORMAT_MESSAGE_IGNORE_INSERTS, 0, 512, ERROR_INVALID_PARAMETER},
        {"inserts without arguments", 193, FORMAT_MESSAGE_FROM_SYSTEM, 0, 512, ERROR_INVALID_PARAMETER},
        {"an allocated buffer", 5, system | 0x100, 0, 512, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases)
        EXPECT_EQ(message(c.code, c.flags, c.language, c.size), "<fails " + std::to_string(c.error) + ">")
            << c.what;
}

} // namespace
