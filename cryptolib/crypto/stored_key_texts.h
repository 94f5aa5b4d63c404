// The two built-in keys, in their stored, scrambled base64 form (from
// stored_key_texts.txt). Data encrypted under either opens only with the same
// text: these never change.
#pragma once

#include <string_view>

namespace quillon::crypto {

extern const std::string_view storedKeyText1; // 55 alphabet characters + "="
extern const std::string_view storedKeyText2; // 50 alphabet characters + "==="

} // namespace quillon::crypto
