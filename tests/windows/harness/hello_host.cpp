// Calls the library's sysHello from a host that leaves standard output as the
// C runtime starts it (a JVM never touches it), so that the bytes the library
// writes can be compared with what it promises.
//
//   hello_host <library> alone     sysHello and nothing else on standard output
//   hello_host <library> around    the host's own C runtime writes "before\n"
//                                  (still in its buffer) before the call and
//                                  "after <mode>\n" after it, <mode> being the
//                                  mode it finds its standard output in then
#include "fake_jni.h"
#include "native_library.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

using VoidFn = void(JNICALL*)(JNIEnv*, jclass);

const char* modeName(int mode)
{
    switch (mode) {
    case _O_TEXT:
        return "text";
    case _O_BINARY:
        return "binary";
    default:
        return "other";
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "alone") != 0 && std::strcmp(argv[2], "around") != 0)) {
        std::fprintf(stderr, "usage: %s <library> alone|around\n", argv[0]);
        return 2;
    }
    const bool around = std::strcmp(argv[2], "around") == 0;
    try {
        NativeLibrary library(argv[1]);
        const std::string name = exportName("sysHello", 8);
        auto* sysHello = reinterpret_cast<VoidFn>(library.symbol(name));
        if (sysHello == nullptr) {
            std::fprintf(stderr, "hello_host: no export %s\n", name.c_str());
            return 1;
        }
        if (around)
            std::printf("before\n");
        FakeJvm jvm;
        sysHello(jvm.env(), nullptr);
        if (around) {
            // Setting text mode returns the mode that was in force.
            const int mode = _setmode(_fileno(stdout), _O_TEXT);
            _setmode(_fileno(stdout), mode);
            std::printf("after %s\n", modeName(mode));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hello_host: %s\n", error.what());
        return 1;
    }
    return 0;
}
