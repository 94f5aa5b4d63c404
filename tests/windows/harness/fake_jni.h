// A stand-in for the JVM's side of JNI: an environment whose function table
// holds only the five functions the Vaultor library may call (every other
// slot is null, so any other call crashes the harness and fails the check).
// Arrays and strings live as long as the FakeJvm.
#pragma once

#include <jni.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

class FakeJvm {
public:
    FakeJvm();
    FakeJvm(const FakeJvm&) = delete;
    FakeJvm& operator=(const FakeJvm&) = delete;

    JNIEnv* env() { return &env_; }

    jbyteArray newArray(const std::string& bytes);
    std::optional<std::string> bytesOf(jbyteArray array) const;
    std::optional<std::string> textOf(jstring text) const;

    // A JNI misuse the JVM would have answered with an exception (bounds,
    // negative sizes, a null array), or empty when there was none.
    const std::string& misuse() const { return misuse_; }

private:
    struct Env : JNIEnv {
        FakeJvm* owner = nullptr;
    };
    struct ByteArray : _jbyteArray {
        std::vector<jbyte> bytes;
    };
    struct Text : _jstring {
        std::string utf;
    };

    static FakeJvm& of(JNIEnv* env);
    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array);
    static void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, jbyte* buffer);
    static jbyteArray JNICALL newByteArray(JNIEnv* env, jsize length);
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* buffer);
    static jstring JNICALL newStringUTF(JNIEnv* env, const char* utf);

    ByteArray* checkedRegion(jbyteArray array, jsize start, jsize length, const char* function);
    void noteMisuse(const std::string& what);

    JNINativeInterface_ table_{};
    Env env_{};
    std::deque<ByteArray> arrays_;
    std::deque<Text> texts_;
    std::string misuse_;
};
