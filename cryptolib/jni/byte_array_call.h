// The common shape of the byte-array entry points: copy the Java array, run
// one operation on the bytes, return the result as a new Java array. A null
// array, an empty result or anything thrown gives a null result.
#pragma once

#include "marshalling.h"

#include "byte_string.h"

namespace quillon::jni {

template <typename Operation>
jbyteArray byteArrayCall(JNIEnv* env, jbyteArray array, Operation&& operation) noexcept
{
    return guardedCall<jbyteArray>(nullptr, [&]() -> jbyteArray {
        const auto data = readByteArray(env, array);
        if (!data) {
            return nullptr;
        }
        return toJavaByteArray(env, operation(crypto::viewOf(*data)));
    });
}

template <typename Operation>
jbyteArray byteArrayCall(JNIEnv* env, jbyteArray first, jbyteArray second, Operation&& operation) noexcept
{
    return guardedCall<jbyteArray>(nullptr, [&]() -> jbyteArray {
        const auto firstData = readByteArray(env, first);
        const auto secondData = readByteArray(env, second);
        if (!firstData || !secondData) {
            return nullptr;
        }
        return toJavaByteArray(env, operation(crypto::viewOf(*firstData), crypto::viewOf(*secondData)));
    });
}

} // namespace quillon::jni
