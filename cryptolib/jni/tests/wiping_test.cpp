// Through the entry points, as the JVM calls them: after decrypt and encrypt
// return, neither the password nor the data is in any storage the library
// released or on the calling thread's stack. (The Java arrays are the
// caller's.)
#include "fake_jni_env.h"
#include "released_storage.h"

#include <gtest/gtest.h>

extern "C" {
jbyteArray JNICALL Java_Quillon_Vaultor_encrypt(JNIEnv*, jclass, jbyteArray, jbyteArray);
jbyteArray JNICALL Java_Quillon_Vaultor_decrypt(JNIEnv*, jclass, jbyteArray, jbyteArray);
jbyteArray JNICALL Java_Quillon_Vaultor_encryptById(JNIEnv*, jclass, jbyteArray);
jbyteArray JNICALL Java_Quillon_Vaultor_decryptById(JNIEnv*, jclass, jbyteArray);
}

namespace quillon::jni {
namespace {

using crypto::test::OwnStackThread;
using crypto::test::ReleaseWatch;

TEST(EntryPointWiping, ShortPasswordAndPlaintextLeaveNothingBehind)
{
    const std::string password("pass\x01word\x02xy", 12);
    const std::string plain("plain\x03text\x04!!!", 14);
    const std::string longer = plain + plain + "0123";
    test::FakeJniEnv fake;
    const jbyteArray passwordArray = fake.array(password);
    const jbyteArray plainArray = fake.array(plain);
    const jbyteArray longerArray = fake.array(longer);
    const jbyteArray sealed = Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, plainArray, passwordArray);
    const jbyteArray encrypted = Java_Quillon_Vaultor_encryptById(fake.env(), nullptr, longerArray);
    ASSERT_NE(sealed, nullptr);
    ASSERT_NE(encrypted, nullptr);

    jbyteArray opened = nullptr;
    jbyteArray decrypted = nullptr;
    const auto work = [&] {
        opened = Java_Quillon_Vaultor_decrypt(fake.env(), nullptr, sealed, passwordArray);
        decrypted = Java_Quillon_Vaultor_decryptById(fake.env(), nullptr, encrypted);
        Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, plainArray, passwordArray);
        Java_Quillon_Vaultor_encryptById(fake.env(), nullptr, longerArray);
    };
    ReleaseWatch watch({password, plain, longer});
    OwnStackThread().run(work); // first calls resolve symbols, saving registers on the stack
    OwnStackThread thread;
    thread.run(work);

    EXPECT_EQ(watch.blocksHolding(0), 0u) << "password";
    EXPECT_EQ(watch.blocksHolding(1), 0u) << "plaintext";
    EXPECT_EQ(watch.blocksHolding(2), 0u) << "built-in key plaintext";
    EXPECT_GT(watch.releasedBlocks(), 0u);
    EXPECT_FALSE(thread.stackHolds(password));
    EXPECT_FALSE(thread.stackHolds(plain));
    EXPECT_FALSE(thread.stackHolds(longer.substr(0, 16)));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(fake.bytesOf(opened), plain);
    EXPECT_EQ(fake.bytesOf(decrypted), longer);
}

} // namespace
} // namespace quillon::jni
