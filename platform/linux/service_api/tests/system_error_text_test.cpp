// The texts of the layer's error codes, as quillonsvc's messages show them.
#include "platform/system_error_text.h"
#include "platform/win32_base.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemErrorText, TheWindowsTextWithoutTheLineBreak)
{
    const std::pair<quint32, const char*> cases[] = {
        {5, "Access is denied."},
        {1060, "The specified service does not exist as an installed service."},
        {1062, "The service has not been started."},
        {1063, "The service process could not connect to the service controller."},
        {4242, "Unknown error 0x00001092."},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(systemErrorText(code).toStdString(), text) << code;
}

TEST(SystemErrorText, LeavesTheLastErrorAsItWas)
{
    SetLastError(1062);
    systemErrorText(5);
    systemErrorText(4242);
    EXPECT_EQ(GetLastError(), 1062u);
}

} // namespace
