// The running object table: active objects registered by CLSID.
#include "internal.h"

#include <mutex>
#include <vector>

namespace {

struct ActiveObject {
  DWORD token;
  CLSID clsid;
  IUnknown* object;
  bool strong;  // holds a reference
};

struct Table {
  std::mutex mutex;
  std::vector<ActiveObject> entries;
  DWORD last_token = 0;
};

Table& table() {
  static Table* t = new Table;  // outlives every static destructor
  return *t;
}

}  // namespace

JTZCOM_API HRESULT RegisterActiveObject(IUnknown* punk, REFCLSID rclsid, DWORD dwFlags,
                                        DWORD* pdwRegister) try {
  if (!punk || !pdwRegister) return E_INVALIDARG;
  const bool strong = !(dwFlags & ACTIVEOBJECT_WEAK);
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  DWORD token = t.last_token + 1;
  if (token == 0) ++token;  // 0 is never a valid token
  t.entries.push_back({token, rclsid, punk, strong});
  t.last_token = token;
  if (strong) punk->AddRef();  // once the entry is in: nothing to undo after it
  *pdwRegister = token;
  return S_OK;
} catch (...) {
  return jtzcom::hresult_of_current_exception();
}

// Of several registrations of one class, the earliest is the active object.
JTZCOM_API HRESULT GetActiveObject(REFCLSID rclsid, void*, IUnknown** ppunk) {
  if (!ppunk) return E_INVALIDARG;
  *ppunk = nullptr;
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (const ActiveObject& entry : t.entries) {
    if (entry.clsid == rclsid) {
      entry.object->AddRef();  // under the lock, so a revocation cannot free it first
      *ppunk = entry.object;
      return S_OK;
    }
  }
  return MK_E_UNAVAILABLE;
}

JTZCOM_API HRESULT RevokeActiveObject(DWORD dwRegister, void*) {
  Table& t = table();
  IUnknown* release = nullptr;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.begin();
    while (it != t.entries.end() && it->token != dwRegister) ++it;
    if (it == t.entries.end()) return E_INVALIDARG;
    if (it->strong) release = it->object;
    t.entries.erase(it);
  }
  // Outside the lock: the object's destruction may revoke or register others.
  if (release) release->Release();
  return S_OK;
}
