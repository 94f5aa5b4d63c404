// The direct C++ figures, handed to the Java benchmark program so that one
// run prints C++, JNI and JCE side by side.
#include "direct_measurements.h"

#include <jni.h>

namespace {

using namespace quillon::bench;

std::size_t sizeOf(jint size)
{
    return static_cast<std::size_t>(size);
}

} // namespace

extern "C" {

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_sealsPerSecond(JNIEnv*, jclass, jint size, jint callers,
                                                                         jdouble seconds)
{
    return sealsPerSecond(sizeOf(size), callers, seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_opensPerSecond(JNIEnv*, jclass, jint size,
                                                                         jboolean refused, jint callers,
                                                                         jdouble seconds)
{
    return opensPerSecond(sizeOf(size), refused == JNI_TRUE, callers, seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_compressionNanoseconds(JNIEnv*, jclass, jdouble seconds)
{
    return dependentCompressionNanoseconds(seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_compressionThreadNanoseconds(JNIEnv*, jclass,
                                                                                       jdouble seconds)
{
    return dependentCompressionThreadNanoseconds(seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_derivationThreadMilliseconds(JNIEnv*, jclass, jint how,
                                                                                       jdouble seconds)
{
    return derivationThreadMilliseconds(static_cast<Derivation>(how), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_derivationPairThreadMilliseconds(JNIEnv*, jclass,
                                                                                           jint how, jdouble seconds)
{
    return derivationPairThreadMilliseconds(static_cast<PairStrategy>(how), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_derivationsPerSecond(JNIEnv*, jclass, jint how,
                                                                               jint callers, jdouble seconds)
{
    return derivationsPerSecond(static_cast<Derivation>(how), callers, seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_derivationPairsPerSecond(JNIEnv*, jclass, jint how,
                                                                                   jint callers, jdouble seconds)
{
    return derivationPairsPerSecond(static_cast<PairStrategy>(how), callers, seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_encryptByIdMegabytesPerSecond(JNIEnv*, jclass, jint size,
                                                                                        jdouble seconds)
{
    return encryptByIdMegabytesPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_decryptByIdMegabytesPerSecond(JNIEnv*, jclass, jint size,
                                                                                        jdouble seconds)
{
    return decryptByIdMegabytesPerSecond(sizeOf(size), seconds);
}

JNIEXPORT jdouble JNICALL Java_Quillon_VaultorBenchNative_genkeyPerSecond(JNIEnv*, jclass, jdouble seconds)
{
    return genkeyPerSecond(seconds);
}

} // extern "C"
