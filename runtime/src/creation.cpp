// Creating and finding COM objects, querying their interfaces and invoking
// their dispatch members.
#include <objbase.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "apartment.h"
#include "bindings.h"
#include "com_ptr.h"
#include "contract.h"
#include "hooks.h"
#include "runtime_state.h"

// Authentication settings of a remote creation with an explicit identity
// (values as published, for hosts whose headers lack them).
#ifndef RPC_C_AUTHN_WINNT
#define RPC_C_AUTHN_WINNT 10
#endif
#ifndef RPC_C_AUTHZ_NONE
#define RPC_C_AUTHZ_NONE 0
#endif
#ifndef RPC_C_AUTHN_LEVEL_CONNECT
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#endif
#ifndef RPC_C_IMP_LEVEL_IMPERSONATE
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
#endif
#ifndef EOAC_NONE
#define EOAC_NONE 0
#endif

namespace ezjcom {

std::string guid_text(const GUID& g) {
  char buf[40];
  const int n =
      std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                    static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                    g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

namespace {

constexpr DWORD kLocalContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
constexpr DWORD kAnyContext = CLSCTX_REMOTE_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER;

#if defined(_WIN64)

// A 64-bit process cannot load a 32-bit control, and may be asked not to load
// a 64-bit one either. COM then serves the class from a local server: for a
// control registered only as an in-process server, the DLL surrogate named by
// the AppID of the class (its DllSurrogate value).
//
// The environment variable EZJCOM_SERVER chooses where a control whose
// in-process server this process could load runs: unset, empty or "inproc",
// in the process; "local", in a local server (a surrogate), isolated from the
// JVM. Any other value fails every creation with E_INVALIDARG, so that a
// mistyped setting is not taken for the default.
const wchar_t kServerVariable[] = L"EZJCOM_SERVER";

HRESULT wants_local_server(bool* local) {
  wchar_t value[16];
  const DWORD n = GetEnvironmentVariableW(kServerVariable, value, 16);
  *local = false;
  if (n == 0) return S_OK;  // unset or empty
  if (n >= 16) return E_INVALIDARG;
  if (lstrcmpiW(value, L"inproc") == 0) return S_OK;
  if (lstrcmpiW(value, L"local") == 0) {
    *local = true;
    return S_OK;
  }
  return E_INVALIDARG;
}

// Whether HKCR\CLSID\{clsid}\<server> exists in the registry view given
// (KEY_WOW64_64KEY: this process's own; KEY_WOW64_32KEY: 32-bit programs').
bool registered(REFCLSID clsid, const wchar_t* server, REGSAM view) {
  wchar_t path[96] = L"CLSID\\";
  if (!StringFromGUID2(clsid, path + 6, 40)) return false;
  lstrcatW(path, L"\\");
  lstrcatW(path, server);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

HRESULT create_local(REFCLSID clsid, void** out) {
  bool local = false;
  if (const HRESULT hr = wants_local_server(&local); FAILED(hr)) return hr;
  const bool own = registered(clsid, L"InprocServer32", KEY_WOW64_64KEY);
  if (own && !local)
    return in_mta(
        [&] { return CoCreateInstance(clsid, nullptr, kLocalContext, IID_IDispatch, out); });
  // A class registered for 32-bit programs only is asked for as such: COM
  // reads its AppID in the 32-bit view then. Where that fails (no surrogate
  // set up for it), the plain local server, whose failure is the answer only
  // when there was no 32-bit attempt to report.
  const bool only_32 = !own && (registered(clsid, L"InprocServer32", KEY_WOW64_32KEY) ||
                                registered(clsid, L"LocalServer32", KEY_WOW64_32KEY));
  return in_mta([&] {
    HRESULT first = S_OK;
    if (only_32) {
      first = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_ACTIVATE_32_BIT_SERVER,
                               IID_IDispatch, out);
      if (SUCCEEDED(first)) return first;
      *out = nullptr;
    }
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, out);
    return FAILED(hr) && FAILED(first) ? first : hr;
  });
}

#else

HRESULT create_local(REFCLSID clsid, void** out) {
  return in_mta(
      [&] { return CoCreateInstance(clsid, nullptr, kLocalContext, IID_IDispatch, out); });
}

#endif

HRESULT take_remote(REFCLSID clsid, void** out);

// The running instance: the object of the latest remote creation of the class
// while no one has taken it yet, else what the running-object table answers.
HRESULT get_active(REFCLSID clsid, void** out) {
  return in_mta([&] {
    if (const HRESULT hr = take_remote(clsid, out); hr != S_FALSE) return hr;
    ComPtr<IUnknown> running;
    const HRESULT hr = GetActiveObject(clsid, nullptr, running.put_typed());
    if (FAILED(hr)) return hr;
    if (!running) return MK_E_UNAVAILABLE;
    return running->QueryInterface(IID_IDispatch, out);
  });
}

// The strings of a remote creation, in the platform's wide-character type.
// jchar and OLECHAR are both UTF-16 code units.
using Wide = std::basic_string<OLECHAR>;

bool wide(const jchar* s, Wide& out) {
  if (!s) return false;
  size_t n = 0;
  while (s[n]) ++n;
  out.assign(reinterpret_cast<const OLECHAR*>(s), n);
  return true;
}

// Overwrites the copies of an identity's strings when the creation is over, so
// that a user, domain or password does not linger in freed memory.
class Wiped {
 public:
  explicit Wiped(Wide& w) : w_(w) {}
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() {
    volatile OLECHAR* p = w_.data();
    for (size_t i = 0; i < w_.size(); ++i) p[i] = 0;
  }

 private:
  Wide& w_;
};

// The object of the latest remote creation per class, held (and registered
// in the running-object table) until the next active-instance lookup takes it.
struct RemoteObject {
  DWORD token = 0;  // its registration
  ComPtr<IUnknown> object;
};
struct RemoteRegistrations {
  std::mutex lock;
  std::map<std::string, RemoteObject> held;  // by CLSID text
};

RemoteRegistrations& remote_registrations() {
  static RemoteRegistrations* r = new RemoteRegistrations;
  return *r;
}

// Gives up a held remote object: its registration, then the runtime's reference.
void give_up(RemoteObject& held) {
  if (held.token) RevokeActiveObject(held.token, nullptr);
  held.token = 0;
  held.object.reset();
}

// Makes obj the running instance of clsid until it is taken, in place of the
// previous remote creation's object (which goes unless someone else holds it).
HRESULT register_remote(REFCLSID clsid, IUnknown* obj) {
  const std::string key = guid_text(clsid);
  RemoteObject previous;
  HRESULT hr;
  {
    RemoteRegistrations& r = remote_registrations();
    std::lock_guard<std::mutex> guard(r.lock);
    RemoteObject& slot = r.held[key];
    std::swap(previous, slot);  // slot is empty now
    DWORD token = 0;
    hr = RegisterActiveObject(obj, clsid, ACTIVEOBJECT_STRONG, &token);
    if (SUCCEEDED(hr)) {
      obj->AddRef();
      slot.token = token;
      slot.object = ComPtr<IUnknown>(obj);
    } else {
      r.held.erase(key);
    }
  }
  give_up(previous);  // outside the lock: the object may go, and its teardown call in
  return hr;
}

// Hands the held object of the latest remote creation of clsid to the caller
// as IDispatch, and the runtime keeps nothing of it: no reference, no
// registration. S_FALSE when none is held.
HRESULT take_remote(REFCLSID clsid, void** out) {
  RemoteObject taken;
  {
    RemoteRegistrations& r = remote_registrations();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.held.find(guid_text(clsid));
    if (it == r.held.end()) return S_FALSE;
    taken = std::move(it->second);
    r.held.erase(it);
  }
  const HRESULT hr = taken.object->QueryInterface(IID_IDispatch, out);
  give_up(taken);
  return hr;
}

HRESULT create_remote(REFCLSID clsid, const jchar* machine, const jchar* user, const jchar* domain,
                      const jchar* password, int iidCount, int clsctx, const IID* const* iids) {
  if (!machine || iidCount <= 0 || !iids) return E_INVALIDARG;
  for (int i = 0; i < iidCount; ++i)
    if (!iids[i]) return E_INVALIDARG;

  Wide machine_w, user_w, domain_w, password_w;
  const Wiped wipe_user(user_w), wipe_domain(domain_w), wipe_password(password_w);
  wide(machine, machine_w);
  const bool has_user = wide(user, user_w);
  const bool has_domain = wide(domain, domain_w);
  const bool has_password = wide(password, password_w);

  // An identity only where one was given; otherwise the caller's own.
  COAUTHIDENTITY identity{};
  COAUTHINFO auth{};
  COSERVERINFO server{};
  server.pwszName = machine_w.data();
  if (has_user || has_domain || has_password) {
    auto chars = [](Wide& w, bool given) {
      return given ? reinterpret_cast<USHORT*>(w.data()) : nullptr;
    };
    identity.User = chars(user_w, has_user);
    identity.UserLength = static_cast<ULONG>(user_w.size());
    identity.Domain = chars(domain_w, has_domain);
    identity.DomainLength = static_cast<ULONG>(domain_w.size());
    identity.Password = chars(password_w, has_password);
    identity.PasswordLength = static_cast<ULONG>(password_w.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    auth.dwAuthnSvc = RPC_C_AUTHN_WINNT;
    auth.dwAuthzSvc = RPC_C_AUTHZ_NONE;
    auth.pwszServerPrincName = nullptr;
    auth.dwAuthnLevel = RPC_C_AUTHN_LEVEL_CONNECT;
    auth.dwImpersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
    auth.pAuthIdentityData = &identity;
    auth.dwCapabilities = EOAC_NONE;
    server.pAuthInfo = &auth;
  }

  std::vector<MULTI_QI> results(static_cast<size_t>(iidCount));
  for (int i = 0; i < iidCount; ++i) results[i] = MULTI_QI{iids[i], nullptr, S_OK};
  const DWORD context = clsctx == 0 ? kAnyContext : static_cast<DWORD>(clsctx);
  HRESULT hr = CoCreateInstanceEx(clsid, nullptr, context, &server, static_cast<DWORD>(iidCount),
                                  results.data());

  // Every interface handed back is released here; the runtime holds the object
  // for the next active-instance lookup, which takes it.
  std::vector<ComPtr<IUnknown>> taken;
  IUnknown* object = nullptr;
  for (MULTI_QI& r : results) {
    if (!r.pItf) continue;
    if (SUCCEEDED(r.hr) && !object) object = r.pItf;
    taken.emplace_back(r.pItf);
  }
  if (SUCCEEDED(hr)) hr = object ? register_remote(clsid, object) : E_NOINTERFACE;
  return hr;
}

}  // namespace
}  // namespace ezjcom

using namespace ezjcom;

EZJCOM_API HRESULT EZJCOM_CALL ezjcomCreateInstance(JNIEnv*, REFCLSID clsid, void** out) {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    if (seen(
            h, "ezjcomCreateInstance", [&](Line& l) { l.guid(clsid); }, &forced)) {
      if (out) *out = nullptr;
      return forced;
    }
  }
  if (!out) return E_POINTER;
  *out = nullptr;
  return create_local(clsid, out);
}

EZJCOM_API HRESULT EZJCOM_CALL ezjcomGetActiveInstance(JNIEnv*, REFCLSID clsid, void** out) {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    if (seen(
            h, "ezjcomGetActiveInstance", [&](Line& l) { l.guid(clsid); }, &forced)) {
      if (out) *out = nullptr;
      return forced;
    }
  }
  if (!out) return E_POINTER;
  *out = nullptr;
  return get_active(clsid, out);
}

// Attach or create: the running instance of the class when there is one,
// otherwise a new local instance. flags selects nothing else: 0 is the only
// value, anything else is E_INVALIDARG.
EZJCOM_API HRESULT EZJCOM_CALL ezjcomMiscFunc4(JNIEnv*, REFCLSID clsid, void** out, int flags) {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    if (seen(
            h, "ezjcomMiscFunc4", [&](Line& l) { l.guid(clsid).num(flags); }, &forced)) {
      if (out) *out = nullptr;
      return forced;
    }
  }
  if (!out) return E_POINTER;
  *out = nullptr;
  if (flags != 0) return E_INVALIDARG;
  if (SUCCEEDED(get_active(clsid, out)) && *out) return S_OK;
  *out = nullptr;
  return create_local(clsid, out);
}

// Creation on a machine: text2..text4 are the user, domain and password of
// the identity to create as (all null: the caller's own), iidCount the length
// of iids, clsctx the class context (0: remote, local or in-process server).
// On success the object becomes the running instance of clsid for the next
// ezjcomGetActiveInstance or ezjcomMiscFunc4 of the class, which takes it:
// the runtime then keeps no reference and no registration of it, so it goes
// when its last user lets it go. Until then (or until the next remote
// creation of the class replaces it) the runtime holds it.
EZJCOM_API HRESULT EZJCOM_CALL ezjcomCreateInstanceRemote(JNIEnv*, REFCLSID clsid,
                                                          const jchar* machine, const jchar* text2,
                                                          const jchar* text3, const jchar* text4,
                                                          int iidCount, int value,
                                                          const IID* const* iids) try {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    const auto describe = [&](Line& l) {
      l.guid(clsid).utf16(machine).secret(text2).secret(text3).secret(text4).num(iidCount).num(
          value);
      if (!iids || iidCount <= 0) {
        l.text(nullptr);
        return;
      }
      std::string list;
      for (int i = 0; i < iidCount; ++i) {
        if (i) list += ',';
        list += iids[i] ? guid_text(*iids[i]) : "null";
      }
      l.text(list.c_str());
    };
    if (seen(h, "ezjcomCreateInstanceRemote", describe, &forced)) return forced;
  }
  return in_mta(
      [&] { return create_remote(clsid, machine, text2, text3, text4, iidCount, value, iids); });
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}

EZJCOM_API HRESULT EZJCOM_CALL ezjcomQueryInterface(JNIEnv*, jint comId, REFIID iid, void** out) {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    if (seen(
            h, "ezjcomQueryInterface", [&](Line& l) { l.guid(iid); }, &forced)) {
      if (out) *out = nullptr;
      return forced;
    }
  }
  if (!out) return E_POINTER;
  *out = nullptr;
  // A use of the binding, so that a wrapper closed meanwhile keeps the object
  // until the query is over (the caller usually holds a use of its own).
  const Use use = enter_value(comId);
  IUnknown* object = use.object();
  if (!object) return E_POINTER;
  return in_mta([&] { return object->QueryInterface(iid, out); });
}

namespace {

// The Invoke of a member call; Invoke takes the result before the exception information.
HRESULT invoke(IDispatch* dispatch, DISPID dispid, DISPPARAMS* params, WORD flags,
               EXCEPINFO* excepInfo, UINT* argErr, VARIANT* result) {
  return dispatch->Invoke(dispid, IID_NULL, GetUserDefaultLCID(), flags, params, result, excepInfo,
                          argErr);
}

// The same from a thread that is not in the MTA, kept out of the common path.
[[gnu::noinline]] HRESULT invoke_in_mta(IDispatch* dispatch, DISPID dispid, DISPPARAMS* params,
                                        WORD flags, EXCEPINFO* excepInfo, UINT* argErr,
                                        VARIANT* result) {
  return in_mta([&] { return invoke(dispatch, dispid, params, flags, excepInfo, argErr, result); });
}

}  // namespace

EZJCOM_API HRESULT EZJCOM_CALL ezjcomInvokeHelper(JNIEnv*, IDispatch* dispatch, DISPID dispid,
                                                  DISPPARAMS* params, WORD flags,
                                                  EXCEPINFO* excepInfo, UINT* argErr,
                                                  VARIANT* result) {
  if (const unsigned h = hooks()) {
    HRESULT forced;
    const auto describe = [&](Line& l) {
      l.num(dispid).num(flags);
      if (params)
        l.num(params->cArgs).num(params->cNamedArgs);
      else
        l.text(nullptr);
    };
    if (seen(h, "ezjcomInvokeHelper", describe, &forced)) return forced;
  }
  if (!dispatch) return E_POINTER;
  DISPPARAMS none{};  // Invoke needs parameters, if only an empty set
  if (!params) params = &none;
  // The common case first, with nothing packed up for another thread.
  if (mta_here()) return invoke(dispatch, dispid, params, flags, excepInfo, argErr, result);
  return invoke_in_mta(dispatch, dispid, params, flags, excepInfo, argErr, result);
}
