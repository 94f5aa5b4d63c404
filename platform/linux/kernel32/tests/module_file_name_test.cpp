// GetModuleFileNameW: the program's own path, or no path at all when it has
// no UTF-16 form (a stand-in character would name another file).
#include "platform/win32_base.h"
#include "utf16.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <unistd.h>

namespace {

TEST(ModuleFileName, IsTheProgramsPath)
{
    char path[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", path, sizeof path - 1), 0);
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(quillon::linux_text::utf16ToUtf8(std::u16string(buffer, length)), path);

    // Cut to the buffer, terminated, with the buffer's size and the error.
    WCHAR small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[3], u'\0');
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(1), buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ModuleFileName, OnlyTextThatConvertsWithoutLossIsUtf8)
{
    using quillon::linux_text::isValidUtf8;
    EXPECT_TRUE(isValidUtf8("/opt/Quillon Server/gr\xC3\xBC\xC3\x9F/\xF0\x9F\x98\x80"));
    for (const char* invalid : {"/tmp/\xff", "/tmp/\xC3", "/tmp/\xC0\x80", "/tmp/\xED\xA0\x80", "/tmp/\xEF\xBF"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
}

} // namespace
