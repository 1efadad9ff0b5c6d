// State that the runtime's operations share across its source files.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace ezjcom {

// ---- interface map (lifecycle.cpp) ----
// The Java class the map gives for iid, or null. The pointer stays valid.
const char* iid_map_class(const IID& iid);

// ---- server-side delivery (events.cpp) ----
extern std::atomic<bool> g_server_side_events;  // on by default
// JNI global references the runtime keeps for the life of the process (its
// lookups and the Strings of event names).
extern std::atomic<long> g_held_global_refs;
// Weak global references it keeps for the life of the process (the classes of
// the server-side handlers it remembers).
extern std::atomic<long> g_held_weak_refs;
// The connections the runtime made for sinks and has not ended (tests).
long open_connections();

// ---- Java classes and fields (lifecycle.cpp) ----
inline constexpr char kJComObject[] = "ezjcom/JComObject";
inline constexpr char kJComEventListener[] = "ezjcom/JComEventListener";
inline constexpr char kJComException[] = "ezjcom/JComException";
inline constexpr char kNullPointerException[] = "java/lang/NullPointerException";

jfieldID com_id_field(JNIEnv* env);
extern std::atomic<jfieldID> g_com_id;  // com_id_field's answer, once it has one
// com_id_field with its common case inline: the ID looked up already.
inline jfieldID com_id_field_fast(JNIEnv* env) {
  if (jfieldID id = g_com_id.load(std::memory_order_acquire)) return id;
  return com_id_field(env);
}
jfieldID event_id_field(JNIEnv* env);

// ---- the com-id field (com_id.cpp; the table itself is bindings.h) ----
class Use;
enum class UseStatus;
// A use of the binding in wrapper's com-id field.
Use enter_wrapper(JNIEnv* env, jobject wrapper);
// Raises what a use that could not be had means: NullPointerException
// "Uninitialized JComObject" for an unbound or closed wrapper,
// IllegalStateException for a value the runtime has no binding for.
void throw_unusable(JNIEnv* env, UseStatus status);
// ezjcomStoreComId.
HRESULT store_com_id(JNIEnv* env, jobject wrapper, IUnknown* object);

// ---- helpers ----
// Text form of a GUID: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} (creation.cpp).
std::string guid_text(const GUID& g);

// Raises a new exception of the named class with message (no-op while
// another exception is pending: that one is reported).
void throw_new(JNIEnv* env, const char* slashClass, const char* message);

// Raises ezjcom.JComException for hr with the given texts (either may be null).
void throw_com_exception(JNIEnv* env, HRESULT hr, BSTR source, BSTR description);

}  // namespace ezjcom
