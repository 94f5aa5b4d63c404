// The machine identity timed directly in C++: what a getit call costs
// without the JNI string.
#include "direct_measurements.h"
#include "machine_identity.h"

#include <jni.h>

extern "C" JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_getitPerSecond(JNIEnv*, jclass, jdouble seconds)
{
    return quillon::bench::callsPerSecond(seconds, [] { return quillon::identity::buildMachineIdentity(); });
}
