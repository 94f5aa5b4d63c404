#include "marshalling.h"

#include <algorithm>

namespace quillon::jni {

jbyteArray toJavaByteArray(JNIEnv* env, const char* bytes, std::size_t length)
{
    if (length == 0 || !fitsJavaArray(length)) {
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

jstring toJavaString(JNIEnv* env, crypto::ByteView text)
{
    crypto::ByteString terminated(text.begin(), std::find(text.begin(), text.end(), '\0'));
    terminated.push_back('\0');
    return env->NewStringUTF(terminated.data());
}

} // namespace quillon::jni
