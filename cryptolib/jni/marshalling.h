// Marshalling between Java values and the library's byte strings. Every entry
// point goes through these and through guardedCall, so that no C++ exception
// ever unwinds into the JVM.
#pragma once

#include <jni.h>

#include <optional>
#include <string>

#include <cryptopp/secblock.h>

namespace quillon::jni {

// A byte string whose storage is wiped when it is released; used for every
// copy of a caller's array, since any of them may be a password.
using WipingBytes = std::basic_string<char, std::char_traits<char>, CryptoPP::AllocatorWithCleanup<char>>;

// The array's bytes, or nothing when the array is null.
std::optional<WipingBytes> readByteArray(JNIEnv* env, jbyteArray array);

// Null for an empty byte string, otherwise a new Java array with its bytes.
jbyteArray toJavaByteArray(JNIEnv* env, const char* bytes, std::size_t length);

template <typename Bytes>
jbyteArray toJavaByteArray(JNIEnv* env, const Bytes& bytes)
{
    return toJavaByteArray(env, bytes.data(), bytes.size());
}

// A Java string of the ASCII text, up to its first zero byte.
jstring toJavaString(JNIEnv* env, const std::string& text);

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
