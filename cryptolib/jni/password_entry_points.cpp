// encrypt / decrypt: sealing under a caller's password.
#include "Quillon_Vaultor.h"
#include "byte_array_call.h"
#include "crypto_service_instance.h"

using quillon::crypto::ByteString;
using quillon::crypto::ByteView;
using quillon::crypto::CryptoService;
using quillon::crypto::PublicBytes;
using quillon::jni::byteArrayCall;
using quillon::jni::cryptoService;

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_encrypt(JNIEnv* env, jclass, jbyteArray data,
                                                          jbyteArray password)
{
    // The result is 72 bytes longer than the data: what no Java array could
    // hold is refused before any work.
    const bool fits = quillon::jni::guardedCall(false, [&] {
        return data == nullptr ||
               quillon::jni::fitsJavaArray(static_cast<std::size_t>(env->GetArrayLength(data)),
                                           CryptoService::kSealOverhead);
    });
    if (!fits) {
        return nullptr;
    }
    return byteArrayCall<ByteString, ByteString>(env, data, password, [](ByteView plain, ByteView secret) {
        return cryptoService().encryptWithPassword(plain, secret);
    });
}

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_decrypt(JNIEnv* env, jclass, jbyteArray data,
                                                          jbyteArray password)
{
    return byteArrayCall<PublicBytes, ByteString>(env, data, password, [](ByteView sealed, ByteView secret) {
        return cryptoService().decryptWithPassword(sealed, secret);
    });
}

} // extern "C"
