/* Machine-dependent JNI types and linkage for 32-bit Windows (i686).
 *
 * jni.h is the same on every platform; only these definitions differ. On
 * 32-bit Windows the JNI calling convention is __stdcall, so an exported
 * native carries the decoration of that convention (_Name@bytes). jint is a
 * Win32 long (32 bits), jlong a 64-bit integer.
 *
 * JNIEXPORT may be defined before this header is read: a module whose export
 * table comes from a module-definition file defines it as nothing, so that the
 * natives are exported under the names that file gives and no others. */
#ifndef JTZ_WIN32_JNI_MD_H
#define JTZ_WIN32_JNI_MD_H

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* JTZ_WIN32_JNI_MD_H */
