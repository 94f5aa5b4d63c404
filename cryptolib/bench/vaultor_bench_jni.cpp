// The direct C++ figures, handed to the Java benchmark program so that one
// run prints C++, JNI and JCE side by side.
#include "direct_measurements.h"

#include <jni.h>

namespace {
std::size_t sizeOf(jint size)
{
    return static_cast<std::size_t>(size);
}
} // namespace

extern "C" {

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_sealsPerSecond(JNIEnv*, jclass, jint size, jdouble seconds)
{
    return quillon::bench::sealsPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_opensPerSecond(JNIEnv*, jclass, jint size, jdouble seconds)
{
    return quillon::bench::opensPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_pbkdf2PerSecond(JNIEnv*, jclass, jdouble seconds)
{
    return quillon::bench::pbkdf2PerSecond(seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_encryptByIdMegabytesPerSecond(JNIEnv*, jclass, jint size,
                                                                                        jdouble seconds)
{
    return quillon::bench::encryptByIdMegabytesPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_decryptByIdMegabytesPerSecond(JNIEnv*, jclass, jint size,
                                                                                        jdouble seconds)
{
    return quillon::bench::decryptByIdMegabytesPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_genkeyPerSecond(JNIEnv*, jclass, jdouble seconds)
{
    return quillon::bench::genkeyPerSecond(seconds);
}

} // extern "C"
