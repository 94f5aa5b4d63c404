// UTF-8 <-> UTF-16 for the Linux layer (kernel32 and advapi32), which
// cannot use Qt. Invalid input becomes U+FFFD.
#pragma once

#include <string>

namespace quillon::linux_text {

std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& text);
// True when the bytes are UTF-8 that converts without loss (no U+FFFD
// stands in for anything).
bool isValidUtf8(const std::string& text);

} // namespace quillon::linux_text
