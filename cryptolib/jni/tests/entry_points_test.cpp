#include "Quillon_Vaultor.h"
#include "fake_jni_env.h"
#include "marshalling.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace quillon::jni {
namespace {

using test::FakeJniEnv;
using OneArrayEntry = jbyteArray(JNICALL*)(JNIEnv*, jclass, jbyteArray);

const OneArrayEntry kBuiltInKeyEntries[] = {
    Java_Quillon_Vaultor_encryptById, Java_Quillon_Vaultor_decryptById,
    Java_Quillon_Vaultor_encryptById2, Java_Quillon_Vaultor_decryptById2};

TEST(GuardedCall, ReturnsTheFallbackForAnythingThrown)
{
    EXPECT_EQ(guardedCall(7, [] { return 1; }), 1);
    EXPECT_EQ(guardedCall(7, []() -> int { throw std::runtime_error("x"); }), 7);
    EXPECT_EQ(guardedCall(7, []() -> int { throw 42; }), 7);
}

TEST(EntryPoints, ANullArrayGivesNull)
{
    FakeJniEnv fake;
    const jbyteArray some = fake.array("data");
    EXPECT_EQ(Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, nullptr, some), nullptr);
    EXPECT_EQ(Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, some, nullptr), nullptr);
    EXPECT_EQ(Java_Quillon_Vaultor_decrypt(fake.env(), nullptr, nullptr, nullptr), nullptr);
    for (const auto entry : kBuiltInKeyEntries) {
        EXPECT_EQ(entry(fake.env(), nullptr, nullptr), nullptr);
    }
}

// A failure beneath an entry point (here: the calls into the JVM throwing, as
// an allocation failure would) must come back as null, never unwind further.
TEST(EntryPoints, NothingThrownBeneathAnEntryPointLeavesIt)
{
    FakeJniEnv fake;
    const jbyteArray data = fake.array(std::string(40, 'd'));
    const jbyteArray password = fake.array("pw");
    fake.throwFromCalls = true;
    EXPECT_EQ(Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, data, password), nullptr);
    EXPECT_EQ(Java_Quillon_Vaultor_decrypt(fake.env(), nullptr, data, password), nullptr);
    for (const auto entry : kBuiltInKeyEntries) {
        EXPECT_EQ(entry(fake.env(), nullptr, data), nullptr);
    }
    EXPECT_EQ(Java_Quillon_Vaultor_genkey(fake.env(), nullptr), nullptr);
}

// HotSpot's longest byte[] is Integer.MAX_VALUE - 2 (2147483645).
TEST(JavaArrayLength, FitsUpToTheLongestArrayTheJvmAllocates)
{
    EXPECT_TRUE(fitsJavaArray(0));
    EXPECT_TRUE(fitsJavaArray(2147483645u));
    EXPECT_FALSE(fitsJavaArray(2147483646u));
    EXPECT_FALSE(fitsJavaArray(2147483647u));
    EXPECT_FALSE(fitsJavaArray(2147483648u));
    for (const std::size_t length : {2147483646u, 2147483647u, 2147483648u})
        EXPECT_EQ(toJavaByteArray(nullptr, "", length), nullptr) << length; // refused before any JNI call

    // encrypt's check: the sealed form is 72 bytes longer than the data.
    EXPECT_TRUE(fitsJavaArray(0, 72));
    EXPECT_TRUE(fitsJavaArray(2147483573u, 72));
    EXPECT_FALSE(fitsJavaArray(2147483574u, 72));
    EXPECT_FALSE(fitsJavaArray(2147483575u, 72));
    EXPECT_FALSE(fitsJavaArray(2147483647u, 72));
    EXPECT_FALSE(fitsJavaArray(static_cast<std::size_t>(-1), 72)); // no wrap-around
}

// Data whose sealed form (72 bytes more) could not be a Java array is refused
// at once: no copy of it is made and nothing is derived. The longest data
// encrypt takes is 2147483645 - 72 = 2147483573 bytes (the check above).
TEST(EntryPoints, EncryptRefusesDataWhoseResultCouldNotBeAJavaArray)
{
    FakeJniEnv fake;
    const jbyteArray password = fake.array("pw");
    for (const jsize length : {2147483574, 2147483575, 2147483647 - 71, 2147483647}) {
        fake.regionReads = 0;
        EXPECT_EQ(Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, fake.arrayClaimingLength(length), password),
                  nullptr)
            << length;
        EXPECT_EQ(fake.regionReads, 0) << length;
    }
}

TEST(EntryPoints, MarshalAllBytesBothWays)
{
    FakeJniEnv fake;
    const std::string plain("\0zero\0bytes\0", 12);
    const jbyteArray password = fake.array(std::string("\0", 1));
    const jbyteArray sealed = Java_Quillon_Vaultor_encrypt(fake.env(), nullptr, fake.array(plain), password);
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(fake.bytesOf(sealed).size(), plain.size() + 72);
    const jbyteArray opened = Java_Quillon_Vaultor_decrypt(fake.env(), nullptr, sealed, password);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(fake.bytesOf(opened), plain);

    const jbyteArray encrypted = Java_Quillon_Vaultor_encryptById(fake.env(), nullptr, fake.array(plain + plain));
    ASSERT_NE(encrypted, nullptr);
    EXPECT_EQ(fake.bytesOf(Java_Quillon_Vaultor_decryptById(fake.env(), nullptr, encrypted)), plain + plain);
    EXPECT_EQ(Java_Quillon_Vaultor_encryptById(fake.env(), nullptr, fake.array(plain)), nullptr);
    EXPECT_EQ(Java_Quillon_Vaultor_decryptById2(fake.env(), nullptr, fake.array("")), nullptr);

    const jstring keyText = Java_Quillon_Vaultor_genkey(fake.env(), nullptr);
    ASSERT_NE(keyText, nullptr);
    EXPECT_GE(fake.textOf(keyText).size(), 768u);
}

} // namespace
} // namespace quillon::jni
