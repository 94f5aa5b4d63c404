// genkey: a fresh random key text.
#include "Quillon_Vaultor.h"
#include "crypto_service_instance.h"
#include "marshalling.h"

extern "C" {

// The C calling convention (no JNICALL), as the 32-bit build exports it under
// its plain name.
JNIEXPORT jstring Java_Quillon_Vaultor_genkey(JNIEnv* env, jclass)
{
    return quillon::jni::guardedCall<jstring>(nullptr, [env] {
        return quillon::jni::toJavaString(env, quillon::crypto::viewOf(quillon::jni::cryptoService().generateKeyText()));
    });
}

} // extern "C"
