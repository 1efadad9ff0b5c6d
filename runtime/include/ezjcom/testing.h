// Test hooks of the EZJcomLib18 runtime: a journal of every operation call,
// forced outcomes, and a record of the last server-side event. Only the test
// variant of the library has them (target EZJcomLib18Testing: the same sources
// built with the hooks, as testlib/libEZJcomLib18.so or testlib/EZJcomLib18.dll);
// the library that ships exports none of these functions.
//
//   ezjcomTestReset();
//   ... drive the bridge ...
//   EXPECT_EQ(ezjcom_journal().back(), "ezjcomInvokeHelper 51 2 0 0");
//
// Journal lines: the operation's name, then its arguments separated by single
// spaces. GUIDs as {834FBEE1-D957-11D3-9C50-0060972F00DC}; strings as they are
// or "null"; a JNIEnv as "env" or "null"; pointers as "ptr" or "null" (never
// their value, so lines repeat from run to run); numbers in decimal except
// HRESULTs, as 0x%08X. Examples:
//   ezjcomInitDLL18 1
//   ezjcomIidMapTypes 1 {834FBEE1-D957-11D3-9C50-0060972F00DC} puente/IScanMontura
//   ezjcomInitThread null
//   ezjcomCreateInstance {834FBEE5-D957-11D3-9C50-0060972F00DC}
//   ezjcomCreateInstanceRemote {CLSID} host null null null 2 7 {IID},{IID}
//       (user, domain and password: "given" or "null", never their text)
//   ezjcomInvokeHelper 51 2 0 0               (DISPID, flags, cArgs, cNamedArgs)
//   ezjcomCheckFatalError 0                   (what it answered)
//   ezjcomThrowComExceptionObject 0x80020009 excepinfo   (or null)
//   ezjcomIntToEnumeratedObject 1 puente/TxDragMode
//   CheckServerSideEvents 1                   (what it answered)
//   OnServerSideEvent 1 0 void OnKeyPress 0 byte []
//   __JComAdvise 1                            (the cookie; 0 when it failed)
//   __JComUnadvise 1                          (the cookie given)
//   __JComRelease ptr                         (a wrapper's reference given back)
// The journal starts on (the calls made while the bridge loads are in it),
// holds at most 200000 lines (later ones are dropped) and can be switched off
// for benchmarks; while it and every forcing are off an operation pays one
// relaxed atomic load for the hooks.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <cstddef>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(EZJCOM_BUILDING)
#define EZJCOM_TEST_API extern "C" __declspec(dllexport)
#else
#define EZJCOM_TEST_API extern "C" __declspec(dllimport)
#endif
#else
#define EZJCOM_TEST_API extern "C" __attribute__((visibility("default")))
#endif

// Clears the journal, every forced outcome, the pending fatal errors of every
// thread and the last server-side record; server-side delivery is back on.
// The journal's own switch is left as it is.
EZJCOM_TEST_API void ezjcomTestReset();

EZJCOM_TEST_API void ezjcomTestJournalEnable(int on);

// Copies the journal, one line per entry each ending in '\n', into buf (at
// most cap - 1 characters and a terminating NUL when cap > 0). Returns the
// length of the whole text, without the NUL.
EZJCOM_TEST_API size_t ezjcomTestJournal(char* buf, size_t cap);

// The next `times` calls of operation `op` return hr without doing their work
// (an out pointer is set to null). Honoured by ezjcomCreateInstance,
// ezjcomGetActiveInstance, ezjcomMiscFunc4, ezjcomCreateInstanceRemote,
// ezjcomQueryInterface, ezjcomInvokeHelper, and by __JComAdvise and
// __JComUnadvise (which then raise the JComException of hr; the unadvise
// ends no connection and keeps the sink's reference).
EZJCOM_TEST_API void ezjcomTestForceHresult(const char* op, HRESULT hr, int times);

// After the nth next call of operation `op` (1 = the next), a fatal error is
// pending for the thread that made that call. Any operation of the journal.
EZJCOM_TEST_API void ezjcomTestFatalAfter(const char* op, int nth);

EZJCOM_TEST_API void ezjcomTestSetServerSideEvents(int on);

// The last OnServerSideEvent call, with its first two argument triples.
struct EzjcomServerSideRecord {
  JNIEnv* env;
  jobject javaObject;
  jobject serverSideValue;
  int argCount;
  int flags;
  char returnType[32];
  char eventName[32];
  int argFlags[2];
  char argType[2][32];
  jobject argValue[2];
  long calls;  // OnServerSideEvent calls since the last reset
};
EZJCOM_TEST_API void ezjcomTestLastServerSide(EzjcomServerSideRecord* out);

// JNI global references the runtime keeps for the life of the process: the
// classes and the empty argument array of server-side delivery, and the
// Strings of the event names it has delivered (at most 16). A count of the
// JVM's global references less this one is what everything else holds.
EZJCOM_TEST_API long ezjcomTestHeldGlobalRefs();
// Weak global references the runtime keeps for the life of the process: the
// classes whose server-side handler it remembers (at most 8).
EZJCOM_TEST_API long ezjcomTestHeldWeakRefs();

// Threads the runtime attached to the JVM itself (ezjcomGetJniEnv on a native
// thread): how many are still attached, and how many it attached in all.
EZJCOM_TEST_API long ezjcomTestAttachedThreads();
EZJCOM_TEST_API long ezjcomTestAttachedThreadsTotal();

// Binds object (taking over the reference the caller holds) without a
// wrapper: the com-id value that now stands for it, for the runtime's
// operations that take one, or 0 when no more bindings fit. __JComRelease of
// the value gives the reference back.
EZJCOM_TEST_API jint ezjcomTestBind(IUnknown* object);
// The object an open binding's value stands for (a com-id or event-id field's
// value), or null; no reference is added.
EZJCOM_TEST_API IUnknown* ezjcomTestObjectOf(jint value);
// How many bindings are open: com-id values whose reference is not yet given back.
EZJCOM_TEST_API long ezjcomTestOpenBindings();
// How many connections the runtime made for sinks (__JComAdvise) and has not ended.
EZJCOM_TEST_API long ezjcomTestOpenConnections();

// The Java class the interface map gives for iid, or null.
EZJCOM_TEST_API const char* ezjcomTestIidMapClass(const IID* iid);

// The journal as lines.
inline std::vector<std::string> ezjcom_journal() {
  std::string text;
  for (;;) {
    text.resize(ezjcomTestJournal(nullptr, 0) + 64);
    const size_t n = ezjcomTestJournal(&text[0], text.size());
    if (n < text.size()) {
      text.resize(n);
      break;
    }
  }
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The journal's lines that start with `op` followed by a space or the end.
inline std::vector<std::string> ezjcom_journal_of(const std::string& op) {
  std::vector<std::string> out;
  for (std::string& line : ezjcom_journal())
    if (line.compare(0, op.size(), op) == 0 && (line.size() == op.size() || line[op.size()] == ' '))
      out.push_back(std::move(line));
  return out;
}
