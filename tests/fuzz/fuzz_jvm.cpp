#include "fuzz_jvm.h"

#include <jvmti.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace jtz::fuzz {
namespace {

JavaVM* g_vm = nullptr;
std::atomic<bool> g_warned{false};
std::mutex g_text_lock;
std::string g_text;  // what the JVM printed since the last look, for the report
jvmtiEnv* g_jvmti = nullptr;
jlong g_thread_id = 0;

jint JNICALL count_root(jvmtiHeapReferenceKind kind, const jvmtiHeapReferenceInfo* info, jlong,
                        jlong, jlong, jlong*, jlong*, jint, void* data) {
  auto* refs = static_cast<References*>(data);
  if (kind == JVMTI_HEAP_REFERENCE_JNI_LOCAL && info && info->jni_local.thread_id == g_thread_id)
    ++refs->local;
  if (kind == JVMTI_HEAP_REFERENCE_JNI_GLOBAL) ++refs->global;
  return 0;  // the roots only: no object is followed
}

bool is_jni_complaint(const std::string& text) {
  return text.find("WARNING in native method") != std::string::npos ||
         text.find("FATAL ERROR in native method") != std::string::npos ||
         text.find("JNI local refs:") != std::string::npos ||
         text.find("WARNING: JNI") != std::string::npos;
}

// Every message of the JVM passes here.
jint JNICALL watch(FILE* stream, const char* format, va_list args) {
  char buffer[2048];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  std::lock_guard<std::mutex> lock(g_text_lock);
  g_text.append(buffer, n < 0 ? 0 : std::min<size_t>(n, sizeof buffer - 1));
  if (is_jni_complaint(g_text)) g_warned = true;
  std::fputs(buffer, stream ? stream : stderr);
  if (g_text.size() > 65536) g_text.erase(0, g_text.size() - 4096);
  return n;
}

}  // namespace

void broken(const char* what, const char* detail) {
  std::fprintf(stderr, "fuzz: property broken: %s%s%s\n", what, detail ? ": " : "",
               detail ? detail : "");
  std::fflush(stderr);
  std::abort();
}

void check_jni_clean(const char* where) {
  if (!g_warned) return;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(g_text_lock);
    text = g_text;
  }
  broken("-Xcheck:jni complained", (std::string(where) + "\n" + text).c_str());
}

JNIEnv* start_jvm() {
  static const std::string cp = std::string("-Djava.class.path=") + JTZ_FUZZ_CLASSPATH;
  static const std::string lp = std::string("-Djava.library.path=") + JTZ_FUZZ_LIBPATH;
  JavaVMOption options[] = {
      {const_cast<char*>("-Xcheck:jni"), nullptr},
      {const_cast<char*>(cp.c_str()), nullptr},
      {const_cast<char*>(lp.c_str()), nullptr},
      {const_cast<char*>("-Xss2m"), nullptr},
      {const_cast<char*>("-Xmx512m"), nullptr},
      {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&watch)},
  };
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = sizeof options / sizeof options[0];
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;
  JNIEnv* env = nullptr;
  if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
    std::fprintf(stderr, "fuzz: JNI_CreateJavaVM failed\n");
    std::abort();
  }
  // JNI local references are counted through the tool interface: the roots the heap walk
  // reports as this thread's JNI locals.
  if (g_vm->GetEnv(reinterpret_cast<void**>(&g_jvmti), JVMTI_VERSION_1_2) != JNI_OK)
    broken("no JVM tool interface");
  jvmtiCapabilities wanted{};
  wanted.can_tag_objects = 1;
  if (g_jvmti->AddCapabilities(&wanted) != JVMTI_ERROR_NONE) broken("cannot tag objects");
  jclass thread_class = env->FindClass("java/lang/Thread");
  jobject current = env->CallStaticObjectMethod(
      thread_class, env->GetStaticMethodID(thread_class, "currentThread", "()Ljava/lang/Thread;"));
  if (env->ExceptionCheck() || !current) broken("no current thread");
  g_thread_id = env->CallLongMethod(current, env->GetMethodID(thread_class, "getId", "()J"));
  if (env->ExceptionCheck()) broken("no thread id");
  env->DeleteLocalRef(current);
  env->DeleteLocalRef(thread_class);
  check_jni_clean("start");
  return env;
}

References count_references() {
  jvmtiHeapCallbacks callbacks{};
  callbacks.heap_reference_callback = count_root;
  References refs;
  if (g_jvmti->FollowReferences(0, nullptr, nullptr, &callbacks, &refs) != JVMTI_ERROR_NONE)
    broken("the heap walk failed");
  return refs;
}

void ReferenceWatch::after(const uint8_t* data, size_t size) {
  if (!counted_) {
    start_ = count_references();
    counted_ = true;
  }
  recent_.emplace_back(data, data + size);
  if (recent_.size() < kBatch && !std::getenv("JTZ_FUZZ_EXACT")) return;
  const References now = count_references();
  if (now.local <= start_.local && now.global <= start_.global) {
    start_ = now;
    recent_.clear();
    return;
  }
  // One of the inputs since the last count left references: find it, alone.
  std::fprintf(stderr,
               "fuzz: references left behind (local %ld -> %ld, global %ld -> %ld); "
               "finding the input among the last %zu\n",
               start_.local, now.local, start_.global, now.global, recent_.size());
  std::vector<std::vector<uint8_t>> suspects;
  suspects.swap(recent_);
  // One count between two inputs; an input after which the count grew runs twice more, alone:
  // a leak grows it each time, the JVM's own references come and go.
  References after = count_references();
  for (const auto& input : suspects) {
    References before = after;
    run_(input.data(), input.size());
    after = count_references();
    bool grows = after.local > before.local || after.global > before.global;
    for (int round = 0; round < 2 && grows; ++round) {
      before = count_references();
      run_(input.data(), input.size());
      after = count_references();
      grows = after.local > before.local || after.global > before.global;
    }
    if (!grows) continue;
    const char* prefix = std::getenv("JTZ_FUZZ_ARTIFACTS");
    const std::string name = std::string(prefix ? prefix : "./") + "leak-references";
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
      std::fwrite(input.data(), 1, input.size(), f);
      std::fclose(f);
    }
    const std::string detail = "local " + std::to_string(before.local) + " -> " +
                               std::to_string(after.local) + ", global " +
                               std::to_string(before.global) + " -> " +
                               std::to_string(after.global) + "; the input is in " + name;
    broken("an input left JNI references behind", detail.c_str());
  }
  // The JVM makes references of its own now and then (class loading, compilation): what no
  // input leaves again is taken as the new start.
  std::fprintf(stderr, "fuzz: no input leaves references again: counting from here\n");
  start_ = count_references();
}

}  // namespace jtz::fuzz
