#include "hooks.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "ezjcom/testing.h"
#include "hooks_admin.h"
#include "runtime_state.h"
#include "thread_state.h"

namespace ezjcom {

std::atomic<unsigned> g_hooks{kJournal};

namespace {

constexpr size_t kJournalCap = 200000;

struct Forced {
  HRESULT hr;
  int times;
};

// Everything the hooks keep, under one lock: they are test machinery, and the
// operations take the lock only while a hook is on.
struct Hooks {
  std::mutex lock;
  std::vector<std::string> journal;
  std::map<std::string, Forced> forced;
  std::map<std::string, int> fatal_after;  // calls to go, counting the fatal one
  bool journal_on = true;
};

Hooks& state() {
  static Hooks* h = new Hooks;  // never destroyed: operations may run during exit
  return *h;
}

// The last OnServerSideEvent call.
struct ServerSideLog {
  std::mutex lock;
  EzjcomServerSideRecord last{};
};

ServerSideLog& server_side_log() {
  static ServerSideLog* s = new ServerSideLog;
  return *s;
}

void copy_name(char (&to)[32], const char* from) {
  std::memset(to, 0, sizeof to);
  if (from) std::strncpy(to, from, sizeof to - 1);
}

// Recomputes the switch word from the state (lock held).
void publish(Hooks& h) {
  unsigned bits = 0;
  if (h.journal_on) bits |= kJournal;
  if (!h.forced.empty()) bits |= kForced;
  if (!h.fatal_after.empty()) bits |= kFatal;
  g_hooks.store(bits, std::memory_order_relaxed);
}

void append_utf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

Line& Line::word(const std::string& w) {
  text_ += ' ';
  text_ += w;
  return *this;
}

Line& Line::num(long long v) { return word(std::to_string(v)); }

Line& Line::hr(HRESULT v) {
  char buf[16];
  const int n = std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return word(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0));
}

Line& Line::guid(const GUID& g) { return word(guid_text(g)); }

Line& Line::text(const char* s) { return word(s ? s : "null"); }

Line& Line::utf16(const jchar* s) {
  if (!s) return word("null");
  std::string out;
  for (size_t i = 0; s[i]; ++i) {
    unsigned c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(out, c);
  }
  return word(out);
}

// The user, domain and password of a remote creation are never written, only
// whether one was given.
Line& Line::secret(const jchar* s) { return word(s ? "given" : "null"); }

Line& Line::ptr(const void* p) { return word(p ? "ptr" : "null"); }

Line& Line::env(const JNIEnv* e) { return word(e ? "env" : "null"); }

Line& Line::raw(const std::string& s) {
  text_ += s;
  return *this;
}

void journal_add(std::string line) {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  if (h.journal_on && h.journal.size() < kJournalCap) h.journal.push_back(std::move(line));
}

void fatal_countdown(const char* op) {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  auto it = h.fatal_after.find(op);
  if (it == h.fatal_after.end()) return;
  if (--it->second > 0) return;
  h.fatal_after.erase(it);
  publish(h);
  set_fatal();
}

bool take_forced(const char* op, HRESULT* hr) {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  auto it = h.forced.find(op);
  if (it == h.forced.end()) return false;
  *hr = it->second.hr;
  if (--it->second.times <= 0) {
    h.forced.erase(it);
    publish(h);
  }
  return true;
}

void record_server_side(JNIEnv* env, jobject javaObject, jobject serverSideValue, int argCount,
                        int flags, const char* returnType, const char* eventName,
                        const int* argFlags, const char* const* argTypes, const jobject* argValues,
                        int recorded) {
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  EzjcomServerSideRecord& r = s.last;
  const long calls = r.calls + 1;
  r = EzjcomServerSideRecord{};
  r.env = env;
  r.javaObject = javaObject;
  r.serverSideValue = serverSideValue;
  r.argCount = argCount;
  r.flags = flags;
  copy_name(r.returnType, returnType);
  copy_name(r.eventName, eventName);
  for (int i = 0; i < recorded && i < 2; ++i) {
    r.argFlags[i] = argFlags[i];
    copy_name(r.argType[i], argTypes[i]);
    r.argValue[i] = argValues[i];
  }
  r.calls = calls;
}

void server_side_record_reset() {
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  s.last = EzjcomServerSideRecord{};
}

void server_side_record_copy(EzjcomServerSideRecord* out) {
  ServerSideLog& s = server_side_log();
  std::lock_guard<std::mutex> guard(s.lock);
  *out = s.last;
}

void hooks_reset() {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  h.journal.clear();
  h.forced.clear();
  h.fatal_after.clear();
  publish(h);
}

void hooks_journal_enable(bool on) {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  h.journal_on = on;
  publish(h);
}

size_t hooks_journal_copy(char* buf, size_t cap) {
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  size_t total = 0;
  for (const std::string& line : h.journal) total += line.size() + 1;
  if (buf && cap > 0) {
    size_t at = 0;
    for (const std::string& line : h.journal) {
      for (char c : line) {
        if (at + 1 >= cap) break;
        buf[at++] = c;
      }
      if (at + 1 >= cap) break;
      buf[at++] = '\n';
    }
    buf[at] = '\0';
  }
  return total;
}

void hooks_force(const char* op, HRESULT hr, int times) {
  if (!op) return;
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  if (times > 0)
    h.forced[op] = Forced{hr, times};
  else
    h.forced.erase(op);
  publish(h);
}

void hooks_fatal_after(const char* op, int nth) {
  if (!op) return;
  Hooks& h = state();
  std::lock_guard<std::mutex> guard(h.lock);
  if (nth > 0)
    h.fatal_after[op] = nth;
  else
    h.fatal_after.erase(op);
  publish(h);
}

}  // namespace ezjcom
