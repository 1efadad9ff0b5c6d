#include "jvm.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace jtz::test {
namespace {

JavaVM* g_vm = nullptr;

// What the JVM prints when -Xcheck:jni finds a misuse of JNI that it lets pass.
constexpr const char* kJniComplaints[] = {
    "WARNING in native method",  // an unchecked exception, a bad reference...
    "JNI local refs",            // "... exceeds capacity": too many local references
    "FATAL ERROR in native method",
};

// The JVM's own output, line by line: passed on to where it was going, and
// every line that reports a misuse of JNI counted against the running test.
struct JvmOutput {
  std::mutex lock;
  std::string partial;  // the line being written
  std::vector<std::string> complaints;
};

JvmOutput& output() {
  static JvmOutput* o = new JvmOutput;  // the JVM may print during exit
  return *o;
}

void take_line(JvmOutput& o, const std::string& line) {
  for (const char* complaint : kJniComplaints)
    if (line.find(complaint) != std::string::npos) o.complaints.push_back(line);
}

jint JNICALL jvm_vfprintf(FILE* stream, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[1024];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return n;
  std::string text;
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  JvmOutput& o = output();
  std::lock_guard<std::mutex> guard(o.lock);
  for (char c : text) {
    if (c == '\n') {
      take_line(o, o.partial);
      o.partial.clear();
    } else {
      o.partial += c;
    }
  }
  return n;
}

}  // namespace

std::vector<std::string> take_jni_complaints() {
  JvmOutput& o = output();
  std::lock_guard<std::mutex> guard(o.lock);
  if (!o.partial.empty()) {
    take_line(o, o.partial);
    o.partial.clear();
  }
  return std::move(o.complaints);
}

namespace {

// Fails every test during which the JVM reported a misuse of JNI. Appended
// after the result printer, it hears of a test's end first (end events go to
// the listeners in reverse order), so the test is reported as failed.
class JniComplaintCheck : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override { take_jni_complaints(); }
  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const std::string& line : take_jni_complaints()) ADD_FAILURE() << "-Xcheck:jni: " << line;
  }
};

class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string cp = std::string("-Djava.class.path=") + JTZ_TEST_CLASSPATH;
    std::string lp = std::string("-Djava.library.path=") + JTZ_TEST_LIBPATH;
    JavaVMOption options[] = {
        {const_cast<char*>("-Xcheck:jni"), nullptr},
        {const_cast<char*>(cp.c_str()), nullptr},
        {const_cast<char*>(lp.c_str()), nullptr},
        {const_cast<char*>("-Xss2m"), nullptr},
        {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&jvm_vfprintf)},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JNIEnv* e = nullptr;
    if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void**>(&e), &args) != JNI_OK) {
      std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
      std::abort();
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new JniComplaintCheck);
  }
  void TearDown() override {
    for (const std::string& line : take_jni_complaints())
      ADD_FAILURE() << "-Xcheck:jni, outside any test: " << line;
  }
  // The JVM is not destroyed: DestroyJavaVM waits for every non-daemon thread
  // and a process may create only one JVM anyway.
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new JvmEnvironment);

}  // namespace
JavaVM* vm() { return g_vm; }

JNIEnv* env() {
  JNIEnv* e = nullptr;
  if (g_vm->GetEnv(reinterpret_cast<void**>(&e), JNI_VERSION_1_8) == JNI_EDETACHED)
    g_vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr);
  return e;
}

std::string take_exception(JNIEnv* e) {
  jthrowable t = e->ExceptionOccurred();
  if (!t) return "";
  e->ExceptionClear();
  jclass object = e->FindClass("java/lang/Object");
  jmethodID toString = e->GetMethodID(object, "toString", "()Ljava/lang/String;");
  auto text = static_cast<jstring>(e->CallObjectMethod(t, toString));
  if (e->ExceptionCheck() || !text) {
    e->ExceptionClear();
    e->DeleteLocalRef(object);
    e->DeleteLocalRef(t);
    return "<exception whose toString failed>";
  }
  const char* chars = e->GetStringUTFChars(text, nullptr);
  std::string out = chars;
  e->ReleaseStringUTFChars(text, chars);
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(object);
  e->DeleteLocalRef(t);
  return out;
}

namespace {
long global_ref_count_once();
}  // namespace

// The lower of reads 20 ms apart while they differ: a count taken as a baseline
// must not include the JVM's own momentary reference (see below).
long global_ref_count() {
  long n = global_ref_count_once();
  for (int i = 0; i < 3 && n >= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long again = global_ref_count_once();
    if (again >= n) break;
    n = again;
  }
  return n;
}

namespace {
long global_ref_count_once() {
  JNIEnv* e = env();
  jclass helper = e->FindClass("jtztest/JniRefs");
  if (!helper) {
    take_exception(e);
    return -1;
  }
  jmethodID count = e->GetStaticMethodID(helper, "globalRefCount", "()J");
  jlong n = e->CallStaticLongMethod(helper, count);
  if (e->ExceptionCheck()) {
    take_exception(e);
    e->DeleteLocalRef(helper);
    return -1;
  }
  e->DeleteLocalRef(helper);
  using Held = long (*)();
  if (auto held = reinterpret_cast<Held>(dlsym(RTLD_DEFAULT, "ezjcomTestHeldGlobalRefs")))
    n -= held();
  return static_cast<long>(n);
}
}  // namespace

long global_ref_count_settling_at(long expected) {
  long n = global_ref_count();
  for (int i = 0; i < 80 && n != expected && n >= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    n = global_ref_count();
  }
  return n;
}

}  // namespace jtz::test
