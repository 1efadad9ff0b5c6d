// Test hooks: the journal of operation calls, forced HRESULTs and forced fatal
// errors (see ezjcom/testing.h for the C API). They exist only in the test
// variant of the library, built from the same sources with EZJCOM_TEST_HOOKS
// defined and hooks.cpp and testing.cpp added; in the library that ships,
// hooks() is 0 and seen() does nothing, so the compiler drops every hook, and
// nothing of the hooks is defined or referenced there.
//
// In the test variant every operation starts with one relaxed load of the hook
// switches; only when one is on does it describe itself:
//
//   if (const unsigned h = hooks()) {
//     HRESULT forced;
//     if (seen(h, "ezjcomQueryInterface", [&](Line& l) { l.guid(iid); }, &forced)) return forced;
//   }
//
// Code that calls a hook function directly does so under `if constexpr (kTestHooks)`.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <atomic>
#include <string>

struct EzjcomServerSideRecord;

namespace ezjcom {

#if defined(EZJCOM_TEST_HOOKS)
inline constexpr bool kTestHooks = true;
#else
inline constexpr bool kTestHooks = false;
#endif

enum HookBits : unsigned {
  kJournal = 1,  // the journal is on
  kForced = 2,   // some operation has forced outcomes left
  kFatal = 4,    // some operation has a fatal error scheduled
};

extern std::atomic<unsigned> g_hooks;

inline unsigned hooks() {
  if constexpr (kTestHooks)
    return g_hooks.load(std::memory_order_relaxed);
  else
    return 0;
}

// One journal line: the operation's name, then each argument after a space.
class Line {
 public:
  explicit Line(const char* op) : text_(op) {}
  Line& num(long long v);
  Line& hr(HRESULT v);              // 0x%08X
  Line& guid(const GUID& g);        // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  Line& text(const char* s);        // as it is, or "null"
  Line& utf16(const jchar* s);      // as UTF-8, or "null"
  Line& secret(const jchar* s);     // "given" or "null": never the text
  Line& ptr(const void* p);         // "ptr" or "null"
  Line& env(const JNIEnv* e);       // "env" or "null"
  Line& raw(const std::string& s);  // appended without a space
  std::string take() { return std::move(text_); }

 private:
  Line& word(const std::string& w);
  std::string text_;
};

void journal_add(std::string line);
// Counts down the fatal error scheduled for op; the calling thread gets it
// pending when its turn comes.
void fatal_countdown(const char* op);
// Takes one forced outcome of op, if any is left.
bool take_forced(const char* op, HRESULT* hr);

// Records a call of op (h: the switches read at its start). Returns true, with
// *forced set, when the call is to return a forced HRESULT without its work.
template <class Describe>
bool seen(unsigned h, const char* op, Describe&& describe, HRESULT* forced = nullptr) {
  if constexpr (kTestHooks) {
    if (h & kJournal) {
      Line line(op);
      describe(line);
      journal_add(line.take());
    }
    if (h & kFatal) fatal_countdown(op);
    return (h & kForced) && forced && take_forced(op, forced);
  } else {
    (void)h, (void)op, (void)describe, (void)forced;
    return false;
  }
}

// For operations without arguments in their journal line.
inline void no_args(Line&) {}

// Keeps the last OnServerSideEvent call for ezjcomTestLastServerSide: its
// fixed arguments and the first `recorded` (at most 2) argument triples.
void record_server_side(JNIEnv* env, jobject javaObject, jobject serverSideValue, int argCount,
                        int flags, const char* returnType, const char* eventName,
                        const int* argFlags, const char* const* argTypes, const jobject* argValues,
                        int recorded);
void server_side_record_reset();
void server_side_record_copy(EzjcomServerSideRecord* out);

}  // namespace ezjcom
