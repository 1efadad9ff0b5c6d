// Operations of the Java-COM runtime library EZJcomLib18, as this library calls them.
//
// The runtime keeps the per-thread and JNI bookkeeping, creates and finds COM
// objects, makes the IDispatch::Invoke, converts strings and enumerations and
// raises the Java exception of a failed COM call. Every creation, query and
// invoke is followed by ezjcomCheckFatalError before its HRESULT is read.
#pragma once

#include <jni.h>
#include <oaidl.h>
#include <ocidl.h>

#if defined(_WIN32)
#if defined(EZJCOM_BUILDING)
#define EZJCOM_API extern "C" __declspec(dllexport)
#else
#define EZJCOM_API extern "C" __declspec(dllimport)
#endif
#define EZJCOM_CALL __cdecl
#if defined(EZJCOM_BUILDING)
#define EZJCOM_NATIVE JNIEXPORT
#else
#define EZJCOM_NATIVE JNIIMPORT
#endif
#else
#define EZJCOM_NATIVE JNIEXPORT
#define EZJCOM_API extern "C" __attribute__((visibility("default")))
#define EZJCOM_CALL
#endif

// One entry of the interface map handed over at load: the IID of a COM
// interface and the Java class (slash form) that wraps it.
struct EzjcomIidMapEntry {
  const IID* iid;
  const char* javaClass;
};

EZJCOM_API int EZJCOM_CALL ezjcomInitDLL18(int mode);
EZJCOM_API int EZJCOM_CALL ezjcomIidMapTypes(const EzjcomIidMapEntry* map, int count);
EZJCOM_API int EZJCOM_CALL ezjcomInitThread(JNIEnv* env);  // env may be null
EZJCOM_API int EZJCOM_CALL ezjcomInitEventThread(JNIEnv* env);
EZJCOM_API JNIEnv* EZJCOM_CALL ezjcomGetJniEnv();
EZJCOM_API jfieldID EZJCOM_CALL ezjcomGetComId();
EZJCOM_API jfieldID EZJCOM_CALL ezjcomGetEventId();

EZJCOM_API HRESULT EZJCOM_CALL ezjcomCreateInstance(JNIEnv* env, REFCLSID clsid, void** out);
EZJCOM_API HRESULT EZJCOM_CALL ezjcomGetActiveInstance(JNIEnv* env, REFCLSID clsid, void** out);
EZJCOM_API HRESULT EZJCOM_CALL ezjcomMiscFunc4(JNIEnv* env, REFCLSID clsid, void** out, int flags);
EZJCOM_API HRESULT EZJCOM_CALL ezjcomCreateInstanceRemote(JNIEnv* env, REFCLSID clsid,
                                                          const jchar* machine, const jchar* text2,
                                                          const jchar* text3, const jchar* text4,
                                                          int iidCount, int value,
                                                          const IID* const* iids);
EZJCOM_API int EZJCOM_CALL ezjcomSetAccessType(int type);
EZJCOM_API HRESULT EZJCOM_CALL ezjcomQueryInterface(JNIEnv* env, jint comId, REFIID iid,
                                                    void** out);
EZJCOM_API HRESULT EZJCOM_CALL ezjcomInvokeHelper(JNIEnv* env, IDispatch* dispatch, DISPID dispid,
                                                  DISPPARAMS* params, WORD flags,
                                                  EXCEPINFO* excepInfo, UINT* argErr,
                                                  VARIANT* result);
// Low byte non-zero: a fatal error is pending and the caller returns at once.
EZJCOM_API int EZJCOM_CALL ezjcomCheckFatalError(JNIEnv* env);
EZJCOM_API int EZJCOM_CALL ezjcomThrowComExceptionObject(JNIEnv* env, HRESULT hr,
                                                         EXCEPINFO* excepInfo);
EZJCOM_API jclass EZJCOM_CALL ezjcomFindClass(JNIEnv* env, const char* slashName);

EZJCOM_API BSTR EZJCOM_CALL ezjcomJstringToBstr(JNIEnv* env, jstring str);
EZJCOM_API jstring EZJCOM_CALL ezjcomBstrToJstr(JNIEnv* env, BSTR bstr);
EZJCOM_API int EZJCOM_CALL ezjcomEnumeratedObjectToInt(JNIEnv* env, jobject enumObject);
EZJCOM_API jobject EZJCOM_CALL ezjcomIntToEnumeratedObject(JNIEnv* env, int value,
                                                           const char* slashClassName);

// The com-id field. It holds a value that stands for one COM reference (the
// interface pointer in a 32-bit process, a handle in a 64-bit one); a pointer
// is read from it only through a use, which keeps the object while it lasts:
// a wrapper closed meanwhile gives its reference back when the last use ends.
//
//   EzjcomComUse use;
//   if (ezjcomEnterComId(env, wrapper, &use) == EZJCOM_USE_OK) {
//     ... use.object ...
//     ezjcomLeaveComId(&use);
//   }
struct EzjcomComUse {
  IUnknown* object;  // the bound interface, valid until ezjcomLeaveComId
  void* slot;        // the runtime's
  jint value;        // the field value the use was taken from
};
#define EZJCOM_USE_OK 0       // use->object may be used until ezjcomLeaveComId
#define EZJCOM_USE_UNBOUND 1  // the field is 0, or its binding was closed meanwhile
#define EZJCOM_USE_STALE 2    // the field holds a value the runtime never bound, or no longer does
EZJCOM_API int EZJCOM_CALL ezjcomEnterComId(JNIEnv* env, jobject wrapper, EzjcomComUse* use);
EZJCOM_API void EZJCOM_CALL ezjcomLeaveComId(EzjcomComUse* use);
// Binds wrapper to object, taking over the one reference the caller holds:
// S_OK, or (with the reference given back and the field left as it was)
// EZJCOM_E_BOUND when the wrapper is bound already, E_OUTOFMEMORY when no
// more bindings fit, E_INVALIDARG without a wrapper.
#define EZJCOM_E_BOUND static_cast<HRESULT>(0x800704DFL)  // ERROR_ALREADY_INITIALIZED
EZJCOM_API HRESULT EZJCOM_CALL ezjcomStoreComId(JNIEnv* env, jobject wrapper, IUnknown* object);

// The event-id field holds a listener's sink the same way: a value that
// stands for the sink's creation reference (its address in a 32-bit process).
// ezjcomStoreEventId stores the sink's value in holder's field, taking over
// that reference (given back, with the field set to 0, when no more bindings
// fit: E_OUTOFMEMORY); ezjcomDropEventId sets the field to 0 and gives the
// reference of the value it held back.
EZJCOM_API HRESULT EZJCOM_CALL ezjcomStoreEventId(JNIEnv* env, jobject holder, IUnknown* sink);
EZJCOM_API void EZJCOM_CALL ezjcomDropEventId(JNIEnv* env, jobject holder);

// Low byte zero: server-side delivery is off and a server-side sink drops the event.
EZJCOM_API int EZJCOM_CALL CheckServerSideEvents(JNIEnv* env);
// Server-side delivery of one event. After the fixed arguments come three values
// per event argument: flags (int), the argument's Java type name (const char*)
// and the argument's value (a jobject, for OnKeyPress the key's byte array).
EZJCOM_API int EZJCOM_CALL OnServerSideEvent(JNIEnv* env, jobject javaObject,
                                             jobject serverSideValue, int argCount, int flags,
                                             const char* returnType, const char* eventName, ...);

// The runtime's own native of ezjcom.JComObject: connects the sink held in the
// listener's event-id field to the component's event source; returns the cookie.
extern "C" EZJCOM_NATIVE jint JNICALL Java_ezjcom_JComObject__1_1JComAdvise(JNIEnv* env,
                                                                            jobject wrapper,
                                                                            jobject listener);
