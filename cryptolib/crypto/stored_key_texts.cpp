#include "stored_key_texts.h"

#include "stored_key_texts_data.h" // made from stored_key_texts.txt

namespace quillon::crypto {

const std::string_view storedKeyText1 = data::storedKeyText1;
const std::string_view storedKeyText2 = data::storedKeyText2;

} // namespace quillon::crypto
