// Native side of Quillon.SignalProbe, the JVM that checks what loading the
// Vaultor library does to the process's signal handlers: reads every
// handler, and changes one the way Crypto++'s CPU probe used to while the
// library loaded (signal() to save it and signal() to put it back).
#include <jni.h>

#include <signal.h>

#include <cstdio>
#include <string>

extern "C" {

JNIEXPORT jstring JNICALL Java_Quillon_SignalProbe_dispositions(JNIEnv* env, jclass)
{
    std::string text;
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction action {};
        if (::sigaction(number, nullptr, &action) != 0) {
            continue; // kept by the C library for itself
        }
        const bool withInfo = (action.sa_flags & SA_SIGINFO) != 0;
        const void* handler = withInfo ? reinterpret_cast<void*>(action.sa_sigaction)
                                       : reinterpret_cast<void*>(action.sa_handler);
        char line[64];
        std::snprintf(line, sizeof line, "signal %d handler %p flags %#x mask ", number, handler,
                      static_cast<unsigned>(action.sa_flags));
        text += line;
        for (int masked = 1; masked < NSIG; ++masked) {
            text += sigismember(&action.sa_mask, masked) == 1 ? '1' : '0';
        }
        text += '\n';
    }
    return env->NewStringUTF(text.c_str());
}

JNIEXPORT void JNICALL Java_Quillon_SignalProbe_resetTheOldWay(JNIEnv*, jclass, jint number)
{
    void (*const previous)(int) = ::signal(number, SIG_DFL);
    ::signal(number, previous);
}

} // extern "C"
