#include "stored_key_texts.h"

namespace quillon::crypto {

// Generated once by key_texts_tool from the operating system's random source.
const std::string_view storedKeyText1 = "wiYHg/9RMawofDqKXEP2qGn3HlGAvKOwhJtaYTcy2HuDWVJ2pAQ7gmY=";
const std::string_view storedKeyText2 = "xm1KKPQJ2q145h36yqmxJ/uai2tozTsiIXOpG2sKNGyj2cpbsQ===";

} // namespace quillon::crypto
