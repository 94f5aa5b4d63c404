// A JNIEnv whose five array and string functions work on C++ storage, as the
// JVM's do on Java arrays, and which can be told to throw from inside them to
// stand for a failure beneath an entry point.
#pragma once

#include <jni.h>

#include <deque>
#include <map>
#include <string>

namespace quillon::jni::test {

class FakeJniEnv {
public:
    FakeJniEnv();
    FakeJniEnv(const FakeJniEnv&) = delete;
    FakeJniEnv& operator=(const FakeJniEnv&) = delete;
    ~FakeJniEnv();

    JNIEnv* env() { return &env_; }

    jbyteArray array(const std::string& bytes);
    // An array that only reports a length, for sizes no test should allocate;
    // reading its bytes fails the call.
    jbyteArray arrayClaimingLength(jsize length);
    std::string bytesOf(jbyteArray array) const;
    std::string textOf(jstring text) const;

    bool throwFromCalls = false;
    int regionReads = 0;

private:
    static FakeJniEnv& self(JNIEnv* env);

    JNINativeInterface_ table_{};
    JNIEnv env_{};
    std::deque<std::string> arrays_;
    std::deque<std::string> strings_;
    std::map<const void*, jsize> claimedLengths_;
};

} // namespace quillon::jni::test
