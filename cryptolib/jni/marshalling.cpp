#include "marshalling.h"

#include <vector>

namespace quillon::jni {

std::optional<WipingBytes> readByteArray(JNIEnv* env, jbyteArray array)
{
    if (array == nullptr) {
        return std::nullopt;
    }
    const jsize length = env->GetArrayLength(array);
    WipingBytes bytes(static_cast<std::size_t>(length), '\0');
    if (length > 0) {
        env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
    }
    return bytes;
}

jbyteArray toJavaByteArray(JNIEnv* env, const char* bytes, std::size_t length)
{
    if (length == 0) {
        return nullptr;
    }
    const auto javaLength = static_cast<jsize>(length);
    jbyteArray array = env->NewByteArray(javaLength);
    if (array == nullptr) {
        return nullptr; // the JVM has an OutOfMemoryError pending
    }
    env->SetByteArrayRegion(array, 0, javaLength, reinterpret_cast<const jbyte*>(bytes));
    return array;
}

jstring toJavaString(JNIEnv* env, const std::string& text)
{
    return env->NewStringUTF(text.c_str());
}

} // namespace quillon::jni
