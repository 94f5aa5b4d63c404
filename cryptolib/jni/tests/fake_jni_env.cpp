#include "fake_jni_env.h"

#include <cstring>
#include <new>

namespace quillon::jni::test {

namespace {
FakeJniEnv* current = nullptr;
}

FakeJniEnv& FakeJniEnv::self(JNIEnv*)
{
    return *current;
}

FakeJniEnv::FakeJniEnv()
{
    current = this;
    table_.GetArrayLength = [](JNIEnv* env, jarray array) -> jsize {
        const auto claimed = self(env).claimedLengths_.find(array);
        if (claimed != self(env).claimedLengths_.end()) {
            return claimed->second;
        }
        return static_cast<jsize>(reinterpret_cast<const std::string*>(array)->size());
    };
    table_.GetByteArrayRegion = [](JNIEnv* env, jbyteArray array, jsize start, jsize length, jbyte* out) {
        self(env).regionReads++;
        if (self(env).throwFromCalls || self(env).claimedLengths_.count(array) != 0) {
            throw std::bad_alloc();
        }
        const auto* bytes = reinterpret_cast<const std::string*>(array);
        std::memcpy(out, bytes->data() + start, static_cast<std::size_t>(length));
    };
    table_.NewByteArray = [](JNIEnv* env, jsize length) -> jbyteArray {
        if (self(env).throwFromCalls) {
            throw std::bad_alloc();
        }
        self(env).arrays_.emplace_back(static_cast<std::size_t>(length), '\0');
        return reinterpret_cast<jbyteArray>(&self(env).arrays_.back());
    };
    table_.SetByteArrayRegion = [](JNIEnv*, jbyteArray array, jsize start, jsize length, const jbyte* in) {
        auto* bytes = reinterpret_cast<std::string*>(array);
        std::memcpy(bytes->data() + start, in, static_cast<std::size_t>(length));
    };
    table_.NewStringUTF = [](JNIEnv* env, const char* text) -> jstring {
        if (self(env).throwFromCalls) {
            throw std::bad_alloc();
        }
        self(env).strings_.emplace_back(text);
        return reinterpret_cast<jstring>(&self(env).strings_.back());
    };
    env_.functions = &table_;
}

FakeJniEnv::~FakeJniEnv()
{
    current = nullptr;
}

jbyteArray FakeJniEnv::array(const std::string& bytes)
{
    arrays_.push_back(bytes);
    return reinterpret_cast<jbyteArray>(&arrays_.back());
}

jbyteArray FakeJniEnv::arrayClaimingLength(jsize length)
{
    const jbyteArray handle = array("");
    claimedLengths_[handle] = length;
    return handle;
}

std::string FakeJniEnv::bytesOf(jbyteArray array) const
{
    return *reinterpret_cast<const std::string*>(array);
}

std::string FakeJniEnv::textOf(jstring text) const
{
    return *reinterpret_cast<const std::string*>(text);
}

} // namespace quillon::jni::test
