// The common shape of the byte-array entry points: copy the Java arrays, run
// one operation on the bytes, return the result as a new Java array. A null
// array, an empty result or anything thrown gives a null result. Each array
// is copied into the kind of storage its contents need: crypto::ByteString
// (wiped) or crypto::PublicBytes.
#pragma once

#include "marshalling.h"

namespace quillon::jni {

template <typename Bytes, typename Operation>
jbyteArray byteArrayCall(JNIEnv* env, jbyteArray array, Operation&& operation) noexcept
{
    return guardedCall<jbyteArray>(nullptr, [&]() -> jbyteArray {
        const auto data = readByteArray<Bytes>(env, array);
        if (!data) {
            return nullptr;
        }
        return toJavaByteArray(env, operation(crypto::viewOf(*data)));
    });
}

template <typename FirstBytes, typename SecondBytes, typename Operation>
jbyteArray byteArrayCall(JNIEnv* env, jbyteArray first, jbyteArray second, Operation&& operation) noexcept
{
    return guardedCall<jbyteArray>(nullptr, [&]() -> jbyteArray {
        const auto firstData = readByteArray<FirstBytes>(env, first);
        const auto secondData = readByteArray<SecondBytes>(env, second);
        if (!firstData || !secondData) {
            return nullptr;
        }
        return toJavaByteArray(env, operation(crypto::viewOf(*firstData), crypto::viewOf(*secondData)));
    });
}

} // namespace quillon::jni
