// Secrets are wiped when their storage is released, whatever their length:
// the byte strings keep nothing in the object itself, and the operations
// leave neither the password nor the plaintext on their stack.
#include "built_in_key.h"
#include "crypto_service.h"
#include "dead_stack.h"
#include "openssl_reference.h"
#include "released_storage.h"
#include "stored_key_texts.h"
#include "test_bytes.h"

#include <cryptopp/aes.h>

#include <gtest/gtest.h>

#include <functional>

namespace quillon::crypto {
namespace {

using test::OwnStackThread;
using test::ReleaseWatch;

// Distinct from anything else in the program; short ones are the case that
// small-string storage would have kept out of the heap.
std::string secretOf(std::size_t length, char tag)
{
    std::string secret(length, tag);
    for (std::size_t i = 0; i < length; ++i) {
        secret[i] = static_cast<char>(tag + 7 * i + 1);
    }
    return secret;
}

TEST(ByteStringStorage, HoldsEveryLengthOutsideTheObjectAndWipesIt)
{
    for (std::size_t length = 1; length <= 40; ++length) {
        const std::string secret = secretOf(length, 'a');
        ReleaseWatch watch({secret});
        {
            // On the stack: released as a heap block, the object's own pointer
            // bytes would match a one-byte secret now and then.
            const ByteString bytes = byteStringOf(secret);
            const auto* object = reinterpret_cast<const char*>(&bytes);
            EXPECT_TRUE(bytes.data() < object || bytes.data() >= object + sizeof(ByteString)) << length;
        }
        EXPECT_GE(watch.releasedBlocks(), 1u) << length;
        EXPECT_EQ(watch.blocksHolding(0), 0u) << length;
    }
}

TEST(ByteStringStorage, PublicBytesAreNotWiped)
{
    const std::string ciphertext = secretOf(24, 'c');
    ReleaseWatch watch({ciphertext});
    { PublicBytes bytes(ciphertext.begin(), ciphertext.end()); }
    EXPECT_EQ(watch.blocksHolding(0), 1u);
}

class OperationsLeaveNoSecret : public ::testing::Test {
protected:
    // Runs the work once on a thread of its own first: resolving the
    // program's symbols on first use saves the vector registers, which may
    // still hold key bytes, on the stack.
    void run(const std::function<void()>& work)
    {
        OwnStackThread().run(work);
        thread.run(work);
    }

    void expectNothingLeft(const ReleaseWatch& watch, std::initializer_list<std::string_view> secrets)
    {
        std::size_t i = 0;
        for (const auto secret : secrets) {
            EXPECT_EQ(watch.blocksHolding(i), 0u) << "a released block holds secret " << i;
            // A key's halves count alone: AES key set-up handles 16 bytes at a time.
            for (std::size_t at = 0; at < secret.size(); at += 16) {
                EXPECT_FALSE(thread.stackHolds(secret.substr(at, 16))) << "the stack holds secret " << i << " from " << at;
            }
            ++i;
        }
    }

    const CryptoService service;
    OwnStackThread thread;
};

TEST_F(OperationsLeaveNoSecret, SealAndOpenWithShortPasswordAndData)
{
    const std::string password = secretOf(12, 'p');
    const std::string data = secretOf(14, 'd');
    const std::string sealed = test::plain(service.encryptWithPassword(data, password));
    const std::string encryptionKey = reference::pbkdf2Sha256(password, sealed.substr(0, 20), 10000, 32);
    const std::string authenticationKey = reference::pbkdf2Sha256(password, sealed.substr(20, 20), 10000, 32);
    std::size_t openedLength = 0;
    ReleaseWatch watch({password, data, encryptionKey, authenticationKey});
    run([&] {
        openedLength = service.decryptWithPassword(sealed, password).size();
        service.encryptWithPassword(data, password);
    });
    expectNothingLeft(watch, {password, data, encryptionKey, authenticationKey});
    EXPECT_EQ(openedLength, data.size());
}

TEST_F(OperationsLeaveNoSecret, BuiltInKeyAndItsDecryption)
{
    const std::string key = test::plain(builtInKey(storedKeyText1));
    const std::string plainText = secretOf(40, 'q');
    const PublicBytes ciphertext = service.encryptWithKey(plainText, builtInKey(storedKeyText1));
    bool decrypted = false;
    ReleaseWatch watch({key, plainText});
    run([&] {
        decrypted = viewOf(service.decryptWithKey(viewOf(ciphertext), builtInKey(storedKeyText1))) == plainText;
    });
    expectNothingLeft(watch, {key, plainText});
    EXPECT_TRUE(decrypted);
}

// Frames of its own, all gone before the wipe.
[[gnu::noinline]] void setUpAesKey(const CryptoPP::SecByteBlock& key)
{
    CryptoPP::AES::Encryption aes(key, key.size());
}

// What the operations' DeadStackWipe is for, shown on Crypto++ alone: AES key
// set-up leaves key bytes in frames it has left.
TEST(DeadStack, WipingRemovesWhatAesKeySetUpLeaves)
{
    const auto key = builtInKey(storedKeyText2);
    const std::string keyBytes = test::plain(key);
    auto leftBehind = [&](bool wipe) {
        const auto work = [&] {
            setUpAesKey(key);
            if (wipe) {
                wipeDeadStack();
            }
        };
        OwnStackThread().run(work);
        OwnStackThread thread;
        thread.run(work);
        return thread.stackHolds(ByteView(keyBytes).substr(0, 16)) || thread.stackHolds(ByteView(keyBytes).substr(16));
    };
    if (!leftBehind(false)) {
        GTEST_SKIP() << "this Crypto++ leaves no key bytes on the stack";
    }
    EXPECT_FALSE(leftBehind(true));
}

} // namespace
} // namespace quillon::crypto
