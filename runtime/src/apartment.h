// The apartment the runtime makes its COM calls in: always the multithreaded
// apartment (MTA), whatever thread asks.
//
//   HRESULT hr = in_mta([&] { return object->QueryInterface(iid, out); });
//
// The pointers the runtime hands to Java live in Java int fields that every
// Java thread may read, the cleaner's among them; an interface pointer is
// valid in the apartment it was obtained in, and only the MTA is one apartment
// for many threads. So every creation, query, call and release happens in the
// MTA:
//   - a thread in no apartment (a Java thread, a thread a component fires
//     events on) is in the MTA implicitly while the MTA exists, which the
//     runtime's own thread sees to: it makes the call as it is, with no
//     initialisation of its own, and is left as it was found;
//   - a thread already in the MTA is served as it is;
//   - a thread that someone else put in a single-threaded apartment (a GUI
//     thread) cannot join it (RPC_E_CHANGED_MODE), and keeps its apartment:
//     the call is made on one of the runtime's own MTA threads while the
//     caller waits: it checks for the call's end for a short while first
//     (a call that ends soon then costs no kernel round trip), and then, on
//     Windows, goes on dispatching its window messages and the COM calls
//     made to its apartment, waiting on an event of its own kept for the
//     thread's life.
// The runtime's first MTA thread starts with the first call and keeps the MTA
// alive for the rest of the process, so that the pointers obtained in it stay
// valid between calls, when no Java thread is in it.
//
// fn must not keep anything of the calling thread's JNI environment: it may
// run on another thread. What it throws reaches the caller.
#pragma once

#include <type_traits>

namespace ezjcom {

using MtaCall = void (*)(void* context);

// Runs call(context) in the MTA, as described above, and returns when it has run.
void run_in_mta(MtaCall call, void* context);

// True when the calling thread is in the MTA, explicitly or implicitly, so that
// it makes the call itself: what almost every call finds, checked before the
// call is packed up for run_in_mta. Once COM has said so for a thread, the
// answer is kept until COM is initialised or uninitialised on that thread
// (an initialize spy registered on it tells the runtime), so that a call
// from a thread in the MTA asks COM nothing.
bool mta_here();

template <class Fn>
auto in_mta(Fn fn) -> decltype(fn()) {
  using R = decltype(fn());
  if (mta_here()) return fn();
  if constexpr (std::is_void_v<R>) {
    run_in_mta([](void* c) { (*static_cast<Fn*>(c))(); }, &fn);
  } else {
    R result{};
    auto call = [&] { result = fn(); };
    using Call = decltype(call);
    run_in_mta([](void* c) { (*static_cast<Call*>(c))(); }, &call);
    return result;
  }
}

}  // namespace ezjcom
