// Object creation through the class registry: in-process servers only.
//
// A class is served by a shared library that exports DllGetClassObject. The
// library is loaded at the first creation of one of its classes and stays
// loaded; the class factory it hands out is kept for the life of the process,
// one per CLSID. A "local server" context is served in-process as well; there
// are no out-of-process or remote servers, and a request for another machine
// fails at once without any network traffic.
//
// A creation that fails in the registry or the loader leaves its reason for
// the calling thread (jtzcom_take_creation_failure): the file at fault and the
// loader's own words, which an HRESULT cannot carry.
#include "internal.h"

#if defined(_WIN32)
#error "libjtzcom's object creation is POSIX only; Windows has its own"
#endif

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <mutex>
#include <utility>
#include <vector>

namespace jtzcom {
namespace {

// The calling thread's latest failed class lookup: its HRESULT and why.
struct CreationFailure {
  HRESULT hr = S_OK;
  std::string why;
};
thread_local CreationFailure t_failure;

HRESULT failed_because(HRESULT hr, REFCLSID clsid, const std::string& why) {
  try {
    t_failure.hr = hr;
    t_failure.why = "class " + guid_text(clsid) +
                    (hr == REGDB_E_CLASSNOTREG ? " not registered: " : ": ") + why;
  } catch (const std::bad_alloc&) {
    t_failure.hr = S_OK;  // no room for the reason: the HRESULT alone
  }
  return hr;
}

typedef HRESULT(STDAPICALLTYPE* DllGetClassObjectFn)(REFCLSID, REFIID, LPVOID*);

class FactoryCache {
 public:
  // The cached factory stays owned by the cache, which never lets it go.
  HRESULT get(REFCLSID clsid, IClassFactory** out) {
    if ((*out = find(clsid))) return S_OK;

    // Load outside the lock: a module's initialisation or its
    // DllGetClassObject may create objects of its own.
    IClassFactory* created = nullptr;
    if (HRESULT hr = load(clsid, &created); FAILED(hr)) return hr;

    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : entries_) {
      if (entry.first == clsid) {  // another thread was first
        created->Release();
        *out = entry.second;
        return S_OK;
      }
    }
    entries_.emplace_back(clsid, created);
    *out = created;
    return S_OK;
  }

 private:
  IClassFactory* find(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : entries_)
      if (entry.first == clsid) return entry.second;
    return nullptr;
  }

  static HRESULT load(REFCLSID clsid, IClassFactory** out) {
    std::string why;
    const std::string module = find_server_module(clsid, &why);
    if (module.empty()) return failed_because(REGDB_E_CLASSNOTREG, clsid, why);
    // Never closed: objects and factories of the module may live until exit.
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      // NOLINTNEXTLINE(concurrency-mt-unsafe): dlerror's text is the calling thread's.
      const char* loader = dlerror();
      return failed_because(
          CO_E_SERVER_EXEC_FAILURE, clsid,
          "loading " + module + " failed: " + (loader ? loader : "no reason given"));
    }
    auto get_class_object =
        reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (!get_class_object)
      return failed_because(CO_E_SERVER_EXEC_FAILURE, clsid,
                            module + " exports no DllGetClassObject");
    void* factory = nullptr;
    HRESULT hr = get_class_object(clsid, IID_IClassFactory, &factory);
    if (FAILED(hr)) return hr;
    if (!factory) return CO_E_SERVER_EXEC_FAILURE;
    *out = static_cast<IClassFactory*>(factory);
    return S_OK;
  }

  std::mutex mutex_;
  std::vector<std::pair<CLSID, IClassFactory*>> entries_;
};

FactoryCache& factories() {
  static FactoryCache* cache = new FactoryCache;  // outlives every static destructor
  return *cache;
}

std::string lower_ascii(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// True when `name` names this machine: empty, ".", a loopback name or address,
// or this host's own name (with or without its domain).
bool is_local_machine(const WCHAR* name) {
  if (!name) return true;
  std::string narrow;
  for (const WCHAR* p = name; *p; ++p) {
    if (*p > 0x7F) return false;  // host names here are ASCII
    narrow += static_cast<char>(*p);
  }
  narrow = lower_ascii(narrow);
  if (narrow.empty() || narrow == "." || narrow == "localhost" || narrow == "127.0.0.1" ||
      narrow == "::1")
    return true;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  const std::string own = lower_ascii(host);
  return narrow == own || narrow == own.substr(0, own.find('.'));
}

}  // namespace
}  // namespace jtzcom

using jtzcom::ComRef;

JTZCOM_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv) try {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  jtzcom::t_failure.hr = S_OK;
  if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER))) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = nullptr;
  HRESULT hr = jtzcom::factories().get(rclsid, &factory);
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
} catch (...) {
  return jtzcom::hresult_of_current_exception();
}

JTZCOM_API HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                      COSERVERINFO* pServerInfo, DWORD dwCount,
                                      MULTI_QI* pResults) try {
  if (dwCount == 0 || !pResults) return E_INVALIDARG;
  for (DWORD i = 0; i < dwCount; ++i) {
    pResults[i].pItf = nullptr;
    pResults[i].hr = E_NOINTERFACE;
  }
  auto fail_all = [&](HRESULT hr) {
    for (DWORD i = 0; i < dwCount; ++i) pResults[i].hr = hr;
    return hr;
  };
  if (pServerInfo && !jtzcom::is_local_machine(pServerInfo->pwszName))
    return fail_all(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));

  ComRef<IUnknown> object;
  const DWORD local = dwClsCtx & ~static_cast<DWORD>(CLSCTX_REMOTE_SERVER);
  HRESULT hr = CoCreateInstance(rclsid, punkOuter, local ? local : CLSCTX_INPROC_SERVER,
                                IID_IUnknown, object.put());
  if (FAILED(hr)) return fail_all(hr);

  DWORD found = 0;
  for (DWORD i = 0; i < dwCount; ++i) {
    MULTI_QI& qi = pResults[i];
    if (!qi.pIID) {
      qi.hr = E_INVALIDARG;
      continue;
    }
    qi.hr = object->QueryInterface(*qi.pIID, reinterpret_cast<void**>(&qi.pItf));
    if (FAILED(qi.hr))
      qi.pItf = nullptr;
    else
      ++found;
  }
  if (found == dwCount) return S_OK;
  return found ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
} catch (...) {
  // Only the look-up of the machine's name allocates, before anything is created.
  const HRESULT hr = jtzcom::hresult_of_current_exception();
  for (DWORD i = 0; i < dwCount; ++i) pResults[i].hr = hr;
  return hr;
}

JTZCOM_API BSTR jtzcom_take_creation_failure(HRESULT hr) {
  jtzcom::CreationFailure& failure = jtzcom::t_failure;
  if (failure.hr == S_OK || failure.hr != hr) return nullptr;
  failure.hr = S_OK;
  // The text is UTF-8 (paths, the loader's words): decoded, with U+FFFD for a byte that
  // starts no sequence.
  std::basic_string<OLECHAR> wide;
  const std::string& text = failure.why;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80         ? 0
                      : (lead >> 5) == 6  ? 1
                      : (lead >> 4) == 14 ? 2
                      : (lead >> 3) == 30 ? 3
                                          : -1;
    char32_t code = extra == 0   ? lead
                    : extra == 1 ? lead & 0x1F
                    : extra == 2 ? lead & 0x0F
                                 : lead & 0x07;
    bool ok = extra >= 0;
    for (int k = 1; ok && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(i + k < text.size() ? text[i + k] : 0);
      ok = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    if (!ok) {
      wide.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += static_cast<size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<OLECHAR>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<OLECHAR>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<OLECHAR>(code));
    }
  }
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}
