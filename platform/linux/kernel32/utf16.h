// UTF-8 <-> UTF-16 for the kernel32 layer, which cannot use Qt.
#pragma once

#include <string>

namespace quillon::linux_kernel32 {

std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& text);

} // namespace quillon::linux_kernel32
