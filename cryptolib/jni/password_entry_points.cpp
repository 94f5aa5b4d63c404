// encrypt / decrypt: sealing under a caller's password.
#include "Quillon_Vaultor.h"
#include "byte_array_call.h"
#include "crypto_service_instance.h"

using quillon::crypto::ByteView;
using quillon::jni::byteArrayCall;
using quillon::jni::cryptoService;

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_encrypt(JNIEnv* env, jclass, jbyteArray data,
                                                          jbyteArray password)
{
    return byteArrayCall(env, data, password, [](ByteView plain, ByteView secret) {
        return cryptoService().encryptWithPassword(plain, secret);
    });
}

JNIEXPORT jbyteArray JNICALL Java_Quillon_Vaultor_decrypt(JNIEnv* env, jclass, jbyteArray data,
                                                          jbyteArray password)
{
    return byteArrayCall(env, data, password, [](ByteView sealed, ByteView secret) {
        return cryptoService().decryptWithPassword(sealed, secret);
    });
}

} // extern "C"
