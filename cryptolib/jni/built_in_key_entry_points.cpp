// encryptById / decryptById (first built-in key) and encryptById2 /
// decryptById2 (second). The key is computed afresh on every call.
#include "Quillon_Vaultor.h"
#include "built_in_key.h"
#include "byte_array_call.h"
#include "crypto_service_instance.h"
#include "stored_key_texts.h"

namespace {

using quillon::crypto::ByteString;
using quillon::crypto::ByteView;
using quillon::crypto::PublicBytes;
using quillon::jni::cryptoService;

jbyteArray encryptUnder(JNIEnv* env, jbyteArray data, std::string_view storedText) noexcept
{
    return quillon::jni::byteArrayCall<ByteString>(env, data, [storedText](ByteView plain) {
        return cryptoService().encryptWithKey(plain, quillon::crypto::builtInKey(storedText));
    });
}

jbyteArray decryptUnder(JNIEnv* env, jbyteArray data, std::string_view storedText) noexcept
{
    return quillon::jni::byteArrayCall<PublicBytes>(env, data, [storedText](ByteView ciphertext) {
        return cryptoService().decryptWithKey(ciphertext, quillon::crypto::builtInKey(storedText));
    });
}

} // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_encryptById(JNIEnv* env, jclass, jbyteArray data)
{
    return encryptUnder(env, data, quillon::crypto::storedKeyText1);
}

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_decryptById(JNIEnv* env, jclass, jbyteArray data)
{
    return decryptUnder(env, data, quillon::crypto::storedKeyText1);
}

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_encryptById2(JNIEnv* env, jclass, jbyteArray data)
{
    return encryptUnder(env, data, quillon::crypto::storedKeyText2);
}

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_decryptById2(JNIEnv* env, jclass, jbyteArray data)
{
    return decryptUnder(env, data, quillon::crypto::storedKeyText2);
}

} // extern "C"
