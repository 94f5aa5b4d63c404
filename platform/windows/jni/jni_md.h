/* Machine-dependent JNI types for Windows (32-bit and 64-bit), used with the
 * JDK's own jni.h when building the library for Windows. */
#ifndef QUILLON_WINDOWS_JNI_MD_H
#define QUILLON_WINDOWS_JNI_MD_H
#define _JAVASOFT_JNI_MD_H_

/* A build whose export names come from a module-definition file (the 32-bit
 * library: its decorated names differ from what the linker would make of
 * dllexport) defines JNIEXPORT empty so nothing else gets exported. */
#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
/* The JVM calls natives with the standard-call convention on 32-bit x86;
 * on x86-64 there is only the one convention and this is ignored. */
#define JNICALL __stdcall

/* long is 32 bits on Windows in both builds (LLP64). */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
