#include "fake_jni.h"

#include <algorithm>

FakeJvm::FakeJvm()
{
    table_.GetArrayLength = &FakeJvm::getArrayLength;
    table_.GetByteArrayRegion = &FakeJvm::getByteArrayRegion;
    table_.NewByteArray = &FakeJvm::newByteArray;
    table_.SetByteArrayRegion = &FakeJvm::setByteArrayRegion;
    table_.NewStringUTF = &FakeJvm::newStringUTF;
    env_.functions = &table_;
    env_.owner = this;
}

FakeJvm& FakeJvm::of(JNIEnv* env)
{
    return *static_cast<Env*>(env)->owner;
}

jbyteArray FakeJvm::newArray(const std::string& bytes)
{
    ByteArray& array = arrays_.emplace_back();
    array.bytes.assign(bytes.begin(), bytes.end());
    return &array;
}

std::optional<std::string> FakeJvm::bytesOf(jbyteArray array) const
{
    if (array == nullptr) {
        return std::nullopt;
    }
    const auto& bytes = static_cast<const ByteArray*>(array)->bytes;
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::string> FakeJvm::textOf(jstring text) const
{
    if (text == nullptr) {
        return std::nullopt;
    }
    return static_cast<const Text*>(text)->utf;
}

void FakeJvm::noteMisuse(const std::string& what)
{
    if (misuse_.empty()) {
        misuse_ = what;
    }
}

FakeJvm::ByteArray* FakeJvm::checkedRegion(jbyteArray array, jsize start, jsize length, const char* function)
{
    if (array == nullptr) {
        noteMisuse(std::string(function) + " on a null array");
        return nullptr;
    }
    auto* bytes = static_cast<ByteArray*>(array);
    const auto size = static_cast<long long>(bytes->bytes.size());
    if (start < 0 || length < 0 || static_cast<long long>(start) + length > size) {
        noteMisuse(std::string(function) + " out of bounds");
        return nullptr;
    }
    return bytes;
}

jsize JNICALL FakeJvm::getArrayLength(JNIEnv* env, jarray array)
{
    if (array == nullptr) {
        of(env).noteMisuse("GetArrayLength on a null array");
        return 0;
    }
    return static_cast<jsize>(static_cast<ByteArray*>(array)->bytes.size());
}

void JNICALL FakeJvm::getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, jbyte* buffer)
{
    if (ByteArray* bytes = of(env).checkedRegion(array, start, length, "GetByteArrayRegion")) {
        std::copy_n(bytes->bytes.begin() + start, length, buffer);
    }
}

jbyteArray JNICALL FakeJvm::newByteArray(JNIEnv* env, jsize length)
{
    if (length < 0) {
        of(env).noteMisuse("NewByteArray with a negative length");
        return nullptr;
    }
    return of(env).newArray(std::string(static_cast<std::size_t>(length), '\0'));
}

void JNICALL FakeJvm::setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* buffer)
{
    if (ByteArray* bytes = of(env).checkedRegion(array, start, length, "SetByteArrayRegion")) {
        std::copy_n(buffer, length, bytes->bytes.begin() + start);
    }
}

jstring JNICALL FakeJvm::newStringUTF(JNIEnv* env, const char* utf)
{
    if (utf == nullptr) {
        of(env).noteMisuse("NewStringUTF with a null text");
        return nullptr;
    }
    Text& text = of(env).texts_.emplace_back();
    text.utf = utf;
    return &text;
}
