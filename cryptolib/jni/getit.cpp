// getit: the machine identity text.
#include "Quillon_Vaultor.h"
#include "machine_identity.h"
#include "marshalling.h"

extern "C" {

// The C calling convention (no JNICALL), as the 32-bit build exports it under
// its plain name.
JNIEXPORT jstring Java_Quillon_Vaultor_getit(JNIEnv* env, jclass)
{
    return quillon::jni::guardedCall<jstring>(nullptr, [env] {
        return quillon::jni::toJavaString(env, quillon::identity::buildMachineIdentity());
    });
}

} // extern "C"
