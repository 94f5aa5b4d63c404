// The stored key text's way to a key (base64 decoding up to the first "=" or
// foreign character, descrambling, fitting to 32 bytes) against a decoder
// written here another way: a bit accumulator over the alphabet's ranges.
#include "crypto_adapter.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>

namespace {

using quillon::fuzz::expectEqual;
namespace library = quillon::crypto::fuzz;

int sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Whole bytes of the 6-bit values up to the first character outside the
// alphabet; bits short of a byte at the end are dropped.
std::string referenceDecode(std::string_view text)
{
    std::string out;
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text) {
        const int value = sextet(static_cast<unsigned char>(c));
        if (value < 0) {
            break;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<char>((bits >> held) & 0xFF));
        }
    }
    return out;
}

// Byte i gains i, loses 72, modulo 256.
std::string referenceDescramble(std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(static_cast<char>((static_cast<unsigned char>(bytes[i]) + i % 256 + 256 - 72) % 256));
    }
    return out;
}

std::string referenceFit(std::string_view bytes)
{
    std::string key(bytes.substr(0, 32));
    key.resize(32, '\0');
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string decoded = library::decodeBase64(input);
    expectEqual(decoded, referenceDecode(input), "decodeBase64");
    expectEqual(library::descramble(input), referenceDescramble(input), "descramble");
    expectEqual(library::fitKeyLength(input), referenceFit(input), "fitKeyLength");
    expectEqual(library::builtInKey(input), referenceFit(referenceDescramble(decoded)), "builtInKey");
    return 0;
}
