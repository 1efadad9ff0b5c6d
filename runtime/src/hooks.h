// Test hooks built into the library: the journal of operation calls, forced
// HRESULTs and forced fatal errors (see ezjcom/testing.h for the C API).
//
// Every operation starts with one relaxed load of the hook switches; only when
// one is on does it describe itself:
//
//   if (const unsigned h = hooks()) {
//     HRESULT forced;
//     if (seen(h, "ezjcomQueryInterface", [&](Line& l) { l.guid(iid); }, &forced)) return forced;
//   }
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <atomic>
#include <string>

namespace ezjcom {

enum HookBits : unsigned {
  kJournal = 1,  // the journal is on
  kForced = 2,   // some operation has forced outcomes left
  kFatal = 4,    // some operation has a fatal error scheduled
};

extern std::atomic<unsigned> g_hooks;

inline unsigned hooks() { return g_hooks.load(std::memory_order_relaxed); }

// One journal line: the operation's name, then each argument after a space.
class Line {
 public:
  explicit Line(const char* op) : text_(op) {}
  Line& num(long long v);
  Line& hr(HRESULT v);              // 0x%08X
  Line& guid(const GUID& g);        // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  Line& text(const char* s);        // as it is, or "null"
  Line& utf16(const jchar* s);      // as UTF-8, or "null"
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
  if (h & kJournal) {
    Line line(op);
    describe(line);
    journal_add(line.take());
  }
  if (h & kFatal) fatal_countdown(op);
  return (h & kForced) && forced && take_forced(op, forced);
}

// For operations without arguments in their journal line.
inline void no_args(Line&) {}

// Text form of a GUID, as the journal writes it.
std::string guid_text(const GUID& g);

}  // namespace ezjcom
