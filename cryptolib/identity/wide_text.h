// Wide texts for the Windows calls, made from ASCII constants (the wide
// character type differs between the systems, so literals cannot be shared).
#pragma once

#include "platform/win32_base.h"

#include <string>
#include <string_view>

namespace quillon::identity {

using WideText = std::basic_string<WCHAR>;

inline WideText widenAscii(std::string_view text)
{
    WideText wide;
    wide.reserve(text.size());
    for (const char c : text) {
        wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
    }
    return wide;
}

} // namespace quillon::identity
