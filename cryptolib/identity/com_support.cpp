#include "com_support.h"

#include "wide_text.h"

namespace quillon::identity {

BStr::BStr(const OLECHAR* text) : text_(SysAllocString(text))
{
    if (text_ == nullptr) {
        throw ComError(E_OUTOFMEMORY);
    }
}

BStr BStr::fromNarrow(const std::string& text)
{
    const WideText wide = widenAscii(text);
    return BStr(wide.c_str());
}

} // namespace quillon::identity
