// The built-in-key cipher (AES-256, CBC with ciphertext stealing CS3, zero
// IV) against CS3 made of single OpenSSL AES blocks: first every length from
// 0 to 200 under both built-in keys and a third key, then fuzzed data.
// Input: one byte choosing the key (0: first built-in key, 1: second, else
// the next 32 bytes are the key), then the data.
#include "crypto_adapter.h"
#include "fuzz_check.h"
#include "reference.h"
#include "stored_key_texts.h"

#include <cstdint>
#include <iterator>
#include <string>

namespace {

using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;
namespace library = quillon::crypto::fuzz;
namespace reference = quillon::crypto::fuzz::reference;

constexpr std::size_t kBlock = 16;

void compare(std::string_view key, std::string_view data)
{
    const reference::AesBlocks aes(key);
    const std::string encrypted = library::encryptWithKey(data, key);
    const std::string decrypted = library::decryptWithKey(data, key);
    if (data.empty()) {
        expect(encrypted.empty() && decrypted.empty(), "empty data gives empty results");
        return;
    }
    if (data.size() <= kBlock) {
        // Ciphertext stealing needs more than a block: encryption refuses;
        // decryption takes the missing block from the zero IV.
        expect(encrypted.empty(), "1 to 16 bytes are not encrypted");
        const std::string ivDecrypted = aes.decrypt(std::string(kBlock, '\0'));
        std::string expected(data);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            expected[i] = static_cast<char>(expected[i] ^ ivDecrypted[i]);
        }
        expectEqual(decrypted, expected, "decryptWithKey of 1 to 16 bytes");
        return;
    }
    expectEqual(encrypted, reference::cs3Encrypt(aes, data), "encryptWithKey");
    expectEqual(decrypted, reference::cs3Decrypt(aes, data), "decryptWithKey");
    expectEqual(library::decryptWithKey(encrypted, key), data, "decryptWithKey(encryptWithKey(data))");
}

std::string testPattern(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(i * 167 + seed * 29 + (i >> 4));
    }
    return bytes;
}

const std::string& builtInKey(int which)
{
    static const std::string keys[2] = {library::builtInKey(quillon::crypto::storedKeyText1),
                                        library::builtInKey(quillon::crypto::storedKeyText2)};
    return keys[which];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string keys[] = {builtInKey(0), builtInKey(1), testPattern(32, 7)};
    for (std::size_t k = 0; k < std::size(keys); ++k) {
        for (std::size_t length = 0; length <= 200; ++length) {
            quillon::fuzz::context() = "the sweep: key " + std::to_string(k) + ", " + std::to_string(length) + " bytes";
            compare(keys[k], testPattern(length, static_cast<unsigned>(length)));
        }
    }
    quillon::fuzz::context().clear();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) {
        return 0;
    }
    const auto choice = static_cast<unsigned char>(input[0]);
    input.remove_prefix(1);
    if (choice < 2) {
        compare(builtInKey(choice), input);
    } else if (input.size() >= 32) {
        compare(input.substr(0, 32), input.substr(32));
    }
    return 0;
}
