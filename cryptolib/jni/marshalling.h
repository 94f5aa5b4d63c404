// Marshalling between Java values and the library's byte strings. Every entry
// point goes through these and through guardedCall, so that no C++ exception
// ever unwinds into the JVM.
#pragma once

#include <jni.h>

#include "byte_string.h"

#include <cstddef>
#include <limits>
#include <optional>

namespace quillon::jni {

// The longest byte[] the JVM allocates. A jsize reaches Integer.MAX_VALUE,
// but HotSpot refuses the last two lengths ("Requested array size exceeds VM
// limit"), whatever the heap.
constexpr std::size_t kLongestJavaArray = static_cast<std::size_t>(std::numeric_limits<jsize>::max()) - 2;

constexpr bool fitsJavaArray(std::size_t length)
{
    return length <= kLongestJavaArray;
}

// Whether a result `extra` bytes longer than `length` bytes fits a Java array.
constexpr bool fitsJavaArray(std::size_t length, std::size_t extra)
{
    return length <= kLongestJavaArray && extra <= kLongestJavaArray - length;
}

// The array's bytes, or nothing when the array is null. Bytes is
// crypto::ByteString for anything that may be secret (a password, plaintext)
// and crypto::PublicBytes for ciphertext. The copy is made straight into
// unfilled storage.
template <typename Bytes>
std::optional<Bytes> readByteArray(JNIEnv* env, jbyteArray array)
{
    if (array == nullptr) {
        return std::nullopt;
    }
    const jsize length = env->GetArrayLength(array);
    std::optional<Bytes> bytes(std::in_place, static_cast<std::size_t>(length));
    if (length > 0) {
        env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes->data()));
    }
    return bytes;
}

// Null for an empty byte string (and for one no Java array could hold),
// otherwise a new Java array that the bytes are written into once.
jbyteArray toJavaByteArray(JNIEnv* env, const char* bytes, std::size_t length);

template <typename Bytes>
jbyteArray toJavaByteArray(JNIEnv* env, const Bytes& bytes)
{
    return toJavaByteArray(env, bytes.data(), bytes.size());
}

// A Java string of the ASCII text, up to its first zero byte. The terminated
// copy it needs is wiped, since the text may be a key.
jstring toJavaString(JNIEnv* env, crypto::ByteView text);

// Runs the work and returns its result, or `fallback` when anything is thrown.
template <typename Result, typename Work>
Result guardedCall(Result fallback, Work&& work) noexcept
{
    try {
        return work();
    } catch (...) {
        return fallback;
    }
}

} // namespace quillon::jni
