// Loads a build of the Vaultor library, finds its entry points under their
// exact export names and calls them as the JVM does, through a fake JNI
// environment. Driven by tests/windows/wine_checks.py on both systems.
//
//   vaultor_harness <library> <command> [hex...]   one command, only its result
//   vaultor_harness <library>                      commands from stdin, one a line
//
// Commands: exports | encrypt D P | decrypt D P | encryptById D | decryptById D
//           | encryptById2 D | decryptById2 D | genkey | getit | elapsedRealtime
//           | sysHello.  Byte arguments are hexadecimal, "-" for an empty array.
// Results:  "hex <digits>", "null", "text <text>", "long <n>", "ok",
//           "missing <name>...", "misuse <what>", "error <what>".
#include "fake_jni.h"
#include "native_library.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

enum class Shape { TwoArrays, OneArray, Void, Long, Text };

struct EntryPoint {
    const char* method;
    Shape shape;
    int stdcallArgumentBytes; // 0: C convention in the 32-bit build
};

const EntryPoint entryPoints[] = {
    {"encrypt", Shape::TwoArrays, 16},   {"decrypt", Shape::TwoArrays, 16},
    {"encryptById", Shape::OneArray, 12}, {"decryptById", Shape::OneArray, 12},
    {"encryptById2", Shape::OneArray, 12}, {"decryptById2", Shape::OneArray, 12},
    {"sysHello", Shape::Void, 8},         {"elapsedRealtime", Shape::Long, 0},
    {"genkey", Shape::Text, 0},           {"getit", Shape::Text, 0},
};

using TwoArraysFn = jbyteArray(JNICALL*)(JNIEnv*, jclass, jbyteArray, jbyteArray);
using OneArrayFn = jbyteArray(JNICALL*)(JNIEnv*, jclass, jbyteArray);
using VoidFn = void(JNICALL*)(JNIEnv*, jclass);
using LongFn = jlong (*)(JNIEnv*, jclass);
using TextFn = jstring (*)(JNIEnv*, jclass);

std::string fromHex(const std::string& hex)
{
    if (hex == "-") {
        return {};
    }
    if (hex.size() % 2 != 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string toHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xf]);
    }
    return hex;
}

class Harness {
public:
    explicit Harness(const std::string& path)
        : library_(path)
    {
        for (const EntryPoint& entry : entryPoints) {
            const std::string name = exportName(entry.method, entry.stdcallArgumentBytes);
            if (void* address = library_.symbol(name)) {
                addresses_[entry.method] = address;
            } else {
                missing_.push_back(name);
            }
        }
    }

    std::string run(const std::vector<std::string>& words)
    {
        const std::string& command = words.at(0);
        if (command == "exports") {
            if (missing_.empty()) {
                return "ok";
            }
            std::string line = "missing";
            for (const auto& name : missing_) {
                line += " " + name;
            }
            return line;
        }
        const EntryPoint* entry = find(command);
        if (entry == nullptr) {
            return "error unknown command " + command;
        }
        const auto address = addresses_.find(command);
        if (address == addresses_.end()) {
            return "missing " + exportName(entry->method, entry->stdcallArgumentBytes);
        }
        FakeJvm jvm;
        const std::string result = call(jvm, *entry, address->second, words);
        return jvm.misuse().empty() ? result : "misuse " + jvm.misuse();
    }

private:
    static const EntryPoint* find(const std::string& method)
    {
        for (const EntryPoint& entry : entryPoints) {
            if (method == entry.method) {
                return &entry;
            }
        }
        return nullptr;
    }

    static std::string arrayResult(const FakeJvm& jvm, jbyteArray array)
    {
        const auto bytes = jvm.bytesOf(array);
        return bytes ? "hex " + toHex(*bytes) : "null";
    }

    std::string call(FakeJvm& jvm, const EntryPoint& entry, void* address, const std::vector<std::string>& words)
    {
        // The class argument is never read; a poisoned pointer shows it if it is.
        auto* unusedClass = reinterpret_cast<jclass>(static_cast<std::uintptr_t>(0xdeadbee0u));
        switch (entry.shape) {
        case Shape::TwoArrays: {
            jbyteArray data = jvm.newArray(fromHex(words.at(1)));
            jbyteArray password = jvm.newArray(fromHex(words.at(2)));
            return arrayResult(jvm, reinterpret_cast<TwoArraysFn>(address)(jvm.env(), unusedClass, data, password));
        }
        case Shape::OneArray: {
            jbyteArray data = jvm.newArray(fromHex(words.at(1)));
            return arrayResult(jvm, reinterpret_cast<OneArrayFn>(address)(jvm.env(), unusedClass, data));
        }
        case Shape::Void:
            reinterpret_cast<VoidFn>(address)(jvm.env(), unusedClass);
            std::fflush(stdout);
            return {};
        case Shape::Long:
            return "long " + std::to_string(reinterpret_cast<LongFn>(address)(jvm.env(), unusedClass));
        case Shape::Text: {
            const auto text = jvm.textOf(reinterpret_cast<TextFn>(address)(jvm.env(), unusedClass));
            return text ? "text " + *text : "null";
        }
        }
        return "error unreachable";
    }

    NativeLibrary library_;
    std::map<std::string, void*> addresses_;
    std::vector<std::string> missing_;
};

std::vector<std::string> split(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <library> [command [hex...]]\n", argv[0]);
        return 2;
    }
    useBinaryStdout();
    try {
        Harness harness(argv[1]);
        if (argc > 2) {
            const std::string result = harness.run(std::vector<std::string>(argv + 2, argv + argc));
            if (!result.empty()) {
                std::printf("%s\n", result.c_str());
            }
            return 0;
        }
        for (std::string line; std::getline(std::cin, line);) {
            const auto words = split(line);
            if (words.empty()) {
                continue;
            }
            std::string result;
            try {
                result = harness.run(words);
            } catch (const std::exception& error) {
                result = std::string("error ") + error.what();
            }
            std::printf("%s\n", result.c_str());
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vaultor_harness: %s\n", error.what());
        return 1;
    }
    return 0;
}
