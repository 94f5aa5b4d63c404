// elapsedRealtime and sysHello: the two entry points that work on their own.
#include "Quillon_Vaultor.h"
#include "marshalling.h"
#include "wall_clock.h"

#include "platform/raw_standard_output.h"

#include <cstdio>

extern "C" {

// The C calling convention (no JNICALL), as the 32-bit build exports it under
// its plain name.
JNIEXPORT jlong Java_Quillon_Vaultor_elapsedRealtime(JNIEnv*, jclass)
{
    return quillon::jni::guardedCall<jlong>(0, [] { return static_cast<jlong>(quillon::jni::wallClockMilliseconds()); });
}

JNIEXPORT void JNICALL Java_Quillon_Vaultor_sysHello(JNIEnv*, jclass)
{
    // The greeting ends in its own "\r\n": it must reach the stream as written
    // whatever mode the host keeps standard output in.
    const quillon::platform::RawStandardOutput raw;
    std::printf("Hello world\r\n");
}

} // extern "C"
