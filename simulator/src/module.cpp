// The in-process server entry points of the simulator library.
#include "module.h"

#include "com_util.h"
#include "component.h"
#include "control.h"
#include "scanmontura_interface.h"

#include <cwchar>

namespace sim {

const CLSID kClsidScanMontura = {
    0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
const IID kIidIScanMontura = {
    0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
const IID kIidIScanMonturaEvents = {
    0x834FBEE3, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
const IID kIidSimSelf = {
    0x5C1A0E2F, 0x7E4B, 0x4C55, {0x9B, 0x0D, 0x3D, 0x6A, 0x91, 0xC2, 0xE0, 0x0F}};

namespace {

LONG g_objects = 0;
LONG g_locks = 0;

// A class factory does not keep the module loaded (COM caches them): only
// live components and LockServer do.
class ClassFactory final : public OneInterfaceObject<IClassFactory> {
 public:
  using Create = HRESULT (*)(REFIID riid, void** ppv);
  explicit ClassFactory(Create create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }

 private:
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }
  ~ClassFactory() override = default;
  Create create_;
};

}  // namespace

void ModuleObjectCreated() { InterlockedIncrement(&g_objects); }
void ModuleObjectDestroyed() { InterlockedDecrement(&g_objects); }

}  // namespace sim

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  sim::ClassFactory::Create create = nullptr;
  if (IsEqualCLSID(rclsid, sim::kClsidScanMontura))
    create = &sim::ScanMontura::Create;
  else if (IsEqualCLSID(rclsid, scanmontura::kSimControl.clsid))
    create = &sim::CreateSimControl;
  else
    return CLASS_E_CLASSNOTAVAILABLE;
  sim::ClassFactory* factory = new (std::nothrow) sim::ClassFactory(create);
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() {
  // Reads through the interlocked API so that the counts are seen whole.
  LONG objects = InterlockedIncrement(&sim::g_objects) - 1;
  InterlockedDecrement(&sim::g_objects);
  LONG locks = InterlockedIncrement(&sim::g_locks) - 1;
  InterlockedDecrement(&sim::g_locks);
  return (objects == 0 && locks == 0) ? S_OK : S_FALSE;
}

#if defined(_WIN32)

// Registration under HKEY_CLASSES_ROOT\CLSID\{...}: the class name, the module
// as its in-process server with its threading model (ScanMontura's, and
// SimControl's, which must live in the same apartments), and its type library
// (embedded in the module as resource TYPELIB 1), which RegisterTypeLib
// registers with its interfaces, for the type library marshaler.
namespace {

HINSTANCE g_module = nullptr;
const wchar_t kClsidKey[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}";
const wchar_t kServerKey[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\InprocServer32";
const wchar_t kTypeLibKey[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\TypeLib";
const wchar_t kVersionKey[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\Version";
// SimControl, in the component's apartment: the same threading model.
const wchar_t kControlKey[] = L"CLSID\\{5C1A0E23-7E4B-4C55-9B0D-3D6A91C2E003}";
const wchar_t kControlServerKey[] =
    L"CLSID\\{5C1A0E23-7E4B-4C55-9B0D-3D6A91C2E003}\\InprocServer32";
// The threading model registered: "Both" unless the environment asks for "Apartment".
const wchar_t kThreadingVariable[] = L"SCANMONTURA_SIM_THREADING";

LONG SetValue(HKEY key, const wchar_t* name, const wchar_t* value) {
  DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

LONG WriteKey(const wchar_t* path, const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  LONG rc =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = SetValue(key, name, value);
  RegCloseKey(key);
  return rc;
}

// The threading model the environment asks for; null for a value that is no model.
const wchar_t* ThreadingModel() {
  wchar_t value[16];
  const DWORD n = GetEnvironmentVariableW(kThreadingVariable, value, 16);
  if (n == 0) return L"Both";  // not set
  if (n >= 16) return nullptr;
  if (lstrcmpiW(value, L"Both") == 0) return L"Both";
  if (lstrcmpiW(value, L"Apartment") == 0) return L"Apartment";
  return nullptr;
}

// The module's own type library.
HRESULT LoadOwnTypeLib(const wchar_t* path, ITypeLib** lib) {
  return LoadTypeLibEx(path, REGKIND_NONE, lib);
}

}  // namespace

namespace sim {
HINSTANCE ModuleHandle() { return g_module; }
}  // namespace sim

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  const wchar_t* model = ThreadingModel();
  if (!model) return E_INVALIDARG;
  wchar_t libid[40];
  if (!StringFromGUID2(scanmontura::kLibrary.libid, libid, 40)) return E_FAIL;
  wchar_t version[16];
  swprintf(version, 16, L"%u.%u", scanmontura::kLibrary.major, scanmontura::kLibrary.minor);

  LONG rc = WriteKey(kClsidKey, nullptr, L"ScanMontura");
  if (rc == ERROR_SUCCESS) rc = WriteKey(kServerKey, nullptr, path);
  if (rc == ERROR_SUCCESS) rc = WriteKey(kServerKey, L"ThreadingModel", model);
  if (rc == ERROR_SUCCESS) rc = WriteKey(kTypeLibKey, nullptr, libid);
  if (rc == ERROR_SUCCESS) rc = WriteKey(kVersionKey, nullptr, version);
  if (rc == ERROR_SUCCESS) rc = WriteKey(kControlKey, nullptr, L"SimControl");
  if (rc == ERROR_SUCCESS) rc = WriteKey(kControlServerKey, nullptr, path);
  if (rc == ERROR_SUCCESS) rc = WriteKey(kControlServerKey, L"ThreadingModel", model);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);

  ITypeLib* lib = nullptr;
  HRESULT hr = LoadOwnTypeLib(path, &lib);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(lib, path, nullptr);
  lib->Release();
  return hr;
}

STDAPI DllUnregisterServer() {
  // The type library with the interfaces it registered, by its own attributes.
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  ITypeLib* lib = nullptr;
  if (n > 0 && n < MAX_PATH && SUCCEEDED(LoadOwnTypeLib(path, &lib))) {
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) {
      UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                        attr->syskind);
      lib->ReleaseTLibAttr(attr);
    }
    lib->Release();
  }
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kControlServerKey);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kControlKey);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kVersionKey);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kTypeLibKey);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kServerKey);
  LONG rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, kClsidKey);
  return (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) ? S_OK : HRESULT_FROM_WIN32(rc);
}

#endif
