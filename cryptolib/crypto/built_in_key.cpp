#include "built_in_key.h"

#include <algorithm>
#include <string_view>

namespace quillon::crypto {

namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The character's position in the alphabet, or -1 for "=" and anything foreign.
int base64Position(char c)
{
    const std::size_t position = kBase64Alphabet.find(c);
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

void emitGroup(const int* positions, std::size_t count, ByteString& out)
{
    unsigned long bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits = (bits << 6) | static_cast<unsigned long>(i < count ? positions[i] : 0);
    }
    // 4 characters carry 3 bytes, 3 carry 2, 2 carry 1, 1 carries none.
    const std::size_t bytes = count == 0 ? 0 : count - 1;
    for (std::size_t i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((bits >> (16 - 8 * i)) & 0xFF));
    }
}

} // namespace

ByteString decodeBase64(ByteView text)
{
    ByteString out;
    out.reserve(text.size() / 4 * 3 + 2);
    int group[4];
    std::size_t count = 0;
    for (const char c : text) {
        const int position = base64Position(c);
        if (position < 0) {
            break;
        }
        group[count++] = position;
        if (count == 4) {
            emitGroup(group, count, out);
            count = 0;
        }
    }
    emitGroup(group, count, out);
    return out;
}

ByteString descramble(ByteView bytes)
{
    ByteString out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto value = static_cast<unsigned char>(static_cast<unsigned char>(bytes[i]) +
                                                      static_cast<unsigned char>(i & 0xFF) - 72U);
        out[i] = static_cast<char>(value);
    }
    return out;
}

CryptoPP::SecByteBlock fitKeyLength(ByteView bytes)
{
    constexpr std::size_t kKeyBytes = 32;
    CryptoPP::SecByteBlock key(kKeyBytes);
    std::fill(key.begin(), key.end(), CryptoPP::byte{0});
    std::copy_n(bytePointer(bytes), std::min(bytes.size(), kKeyBytes), key.begin());
    return key;
}

CryptoPP::SecByteBlock builtInKey(ByteView storedText)
{
    return fitKeyLength(viewOf(descramble(viewOf(decodeBase64(storedText)))));
}

} // namespace quillon::crypto
