// The subset of COM and OLE Automation that this project uses, for POSIX hosts.
//
// On Windows the real <windows.h>, <oaidl.h>, <ocidl.h> and <olectl.h> are used
// instead; this header reproduces their names, layouts and calling conventions
// so that code written against them compiles unchanged here. Layouts follow the
// Windows ABI of the target (VARIANT is 16 bytes on 32-bit x86 and 24 bytes on
// x86-64; OLECHAR is 16-bit UTF-16).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#error "posixcom is for POSIX hosts; use the platform's own COM headers on Windows"
#endif

#define JTZCOM_API extern "C" __attribute__((visibility("default")))

// ---- Basic Win32 types (LONG is 32 bits everywhere, as on Windows) ----
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef int8_t SCHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef void* LPVOID;
typedef void* PVOID;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HPALETTE;
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef const char* LPCSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef LONG DISPID;
typedef DWORD LCID;
typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef OLECHAR* BSTR;
typedef DWORD OLE_COLOR;
typedef DWORD COLORREF;
typedef double DATE;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT STDAPICALLTYPE

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// Entry point of a module, defined by the module itself (C linkage, as on
// Windows). On POSIX it is called by the jtz_dllentry object linked into the
// module, when the module is loaded and unloaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

// ---- HRESULTs ----
#define _HRESULT_TYPEDEF_(x) ((HRESULT)(x))
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_FROM_WIN32(x) \
  ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x)&0x0000FFFF) | (7 << 16) | 0x80000000)))
#define S_OK _HRESULT_TYPEDEF_(0)
#define S_FALSE _HRESULT_TYPEDEF_(1)
#define E_NOTIMPL _HRESULT_TYPEDEF_(0x80004001)
#define E_NOINTERFACE _HRESULT_TYPEDEF_(0x80004002)
#define E_POINTER _HRESULT_TYPEDEF_(0x80004003)
#define E_ABORT _HRESULT_TYPEDEF_(0x80004004)
#define E_FAIL _HRESULT_TYPEDEF_(0x80004005)
#define E_UNEXPECTED _HRESULT_TYPEDEF_(0x8000FFFF)
#define E_ACCESSDENIED _HRESULT_TYPEDEF_(0x80070005)
#define E_OUTOFMEMORY _HRESULT_TYPEDEF_(0x8007000E)
#define E_INVALIDARG _HRESULT_TYPEDEF_(0x80070057)
#define DISP_E_UNKNOWNINTERFACE _HRESULT_TYPEDEF_(0x80020001)
#define DISP_E_MEMBERNOTFOUND _HRESULT_TYPEDEF_(0x80020003)
#define DISP_E_PARAMNOTFOUND _HRESULT_TYPEDEF_(0x80020004)
#define DISP_E_TYPEMISMATCH _HRESULT_TYPEDEF_(0x80020005)
#define DISP_E_UNKNOWNNAME _HRESULT_TYPEDEF_(0x80020006)
#define DISP_E_NONAMEDARGS _HRESULT_TYPEDEF_(0x80020007)
#define DISP_E_BADVARTYPE _HRESULT_TYPEDEF_(0x80020008)
#define DISP_E_EXCEPTION _HRESULT_TYPEDEF_(0x80020009)
#define DISP_E_OVERFLOW _HRESULT_TYPEDEF_(0x8002000A)
#define DISP_E_BADINDEX _HRESULT_TYPEDEF_(0x8002000B)
#define DISP_E_BADPARAMCOUNT _HRESULT_TYPEDEF_(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL _HRESULT_TYPEDEF_(0x8002000F)
#define CLASS_E_NOAGGREGATION _HRESULT_TYPEDEF_(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE _HRESULT_TYPEDEF_(0x80040111)
#define REGDB_E_CLASSNOTREG _HRESULT_TYPEDEF_(0x80040154)
#define CONNECT_E_NOCONNECTION _HRESULT_TYPEDEF_(0x80040200)
#define CONNECT_E_ADVISELIMIT _HRESULT_TYPEDEF_(0x80040201)
#define CONNECT_E_CANNOTCONNECT _HRESULT_TYPEDEF_(0x80040202)
#define MK_E_UNAVAILABLE _HRESULT_TYPEDEF_(0x800401E3)
#define CO_E_NOTINITIALIZED _HRESULT_TYPEDEF_(0x800401F0)
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define CO_E_SERVER_EXEC_FAILURE _HRESULT_TYPEDEF_(0x80080005)
#define CO_E_CLASSSTRING _HRESULT_TYPEDEF_(0x800401F3)
#define CO_S_NOTALLINTERFACES _HRESULT_TYPEDEF_(0x00080012)
#define RPC_E_CHANGED_MODE _HRESULT_TYPEDEF_(0x80010106)

// ---- GUIDs ----
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef IID* LPIID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  const BYTE* x = reinterpret_cast<const BYTE*>(&a);
  const BYTE* y = reinterpret_cast<const BYTE*>(&b);
  for (int i = 0; i < 16; ++i)
    if (x[i] != y[i]) return false;
  return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

// Defined (and exported) by libjtzcom.
JTZCOM_API const IID IID_NULL;
JTZCOM_API const IID IID_IUnknown;
JTZCOM_API const IID IID_IDispatch;
JTZCOM_API const IID IID_IClassFactory;
JTZCOM_API const IID IID_IConnectionPointContainer;
JTZCOM_API const IID IID_IConnectionPoint;
JTZCOM_API const IID IID_IEnumConnectionPoints;
JTZCOM_API const IID IID_IEnumConnections;

// ---- Automation data ----
enum VARENUM : unsigned short {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_RECORD = 36,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_TYPEMASK = 0x0FFF
};

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

struct IUnknown;
struct IDispatch;
struct tagVARIANT;
struct SAFEARRAY;  // only as a type: no SAFEARRAYs exist here

struct tagDEC {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};
typedef tagDEC DECIMAL;

struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        DECIMAL* pdecVal;
        tagVARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        INT* pintVal;
        struct {
          PVOID pvRecord;
          PVOID pRecInfo;
        } brecVal;
      };
    };
    DECIMAL decVal;
  };
};
typedef tagVARIANT VARIANT;
typedef tagVARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(tagEXCEPINFO*);
  SCODE scode;
};
typedef tagEXCEPINFO EXCEPINFO;

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_BACKCOLOR (-501)
#define DISPID_ENABLED (-514)
#define DISPID_TEXT (-517)

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

// ---- Interfaces (vtable order as published) ----
struct ITypeInfo;
struct IConnectionPoint;
struct IConnectionPointContainer;
struct IEnumConnectionPoints;
struct IEnumConnections;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                           EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
typedef IDispatch* LPDISPATCH;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, CONNECTDATA* rgcd,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** ppEnum) = 0;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) = 0;
};

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, IConnectionPoint** ppCP,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) = 0;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};

// ---- Creation ----
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_SERVER | CLSCTX_INPROC_HANDLER)

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

#define ACTIVEOBJECT_STRONG 0x0
#define ACTIVEOBJECT_WEAK 0x1

struct COAUTHIDENTITY {
  USHORT* User;
  ULONG UserLength;
  USHORT* Domain;
  ULONG DomainLength;
  USHORT* Password;
  ULONG PasswordLength;
  ULONG Flags;
};
#define SEC_WINNT_AUTH_IDENTITY_UNICODE 0x2

struct COAUTHINFO {
  DWORD dwAuthnSvc;
  DWORD dwAuthzSvc;
  LPWSTR pwszServerPrincName;
  DWORD dwAuthnLevel;
  DWORD dwImpersonationLevel;
  COAUTHIDENTITY* pAuthIdentityData;
  DWORD dwCapabilities;
};

struct COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;
  COAUTHINFO* pAuthInfo;
  DWORD dwReserved2;
};

struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

// ---- Functions ----
//
// They behave as Windows' oleaut32 and ole32 do, numbers read and written as
// in English (United States): 7 significant digits for VT_R4, 15 for VT_R8.
// Where this layer deliberately differs from Windows:
// - Locale: every LCID, including the one given to VariantChangeTypeEx, reads
//   and writes numbers, currency and booleans as English (United States).
// - Conversions: VariantChangeType(Ex) converts between VT_EMPTY, VT_BOOL,
//   VT_I1 to VT_UINT, VT_R4, VT_R8 and VT_BSTR, from any type to VT_EMPTY,
//   VT_NULL or its own type, and from a VT_DISPATCH through its default value.
//   Conversions from or to VT_CY, VT_DATE, VT_DECIMAL, VT_I8, VT_UI8 and
//   VT_ERROR, and between VT_UNKNOWN and VT_DISPATCH, are DISP_E_TYPEMISMATCH.
//   A default value that is itself an object is not followed further:
//   DISP_E_TYPEMISMATCH. A target type with VT_BYREF or VT_ARRAY is
//   DISP_E_BADVARTYPE.
// - SAFEARRAYs and record types do not exist here: VariantClear, VariantCopy
//   and VariantCopyInd accept VT_ARRAY only with a null array and VT_RECORD
//   only without record information, and refuse the others with
//   DISP_E_BADVARTYPE, leaving them as they are; VariantChangeType(Ex) of an
//   array is DISP_E_TYPEMISMATCH.
// - Null pointers that Windows reads through: a null VT_BYREF given to
//   VariantCopyInd is E_INVALIDARG, a null BSTR* given to SysReAllocString(Len)
//   is FALSE.
// - BSTRs: without a source, SysAllocStringLen and SysAllocStringByteLen give
//   zeroed characters (Windows leaves them undefined). A string whose block
//   would reach 2 GiB is refused with null on 64-bit hosts too, whatever
//   length a caller asks for.
// - OleTranslateColor: the system colours are those of the classic Windows
//   scheme, not of a desktop; no palettes exist, so with a palette handle a
//   palette index (0x0100IIII) is E_INVALIDARG.
// - CLSIDFromString: there are no program identifiers to look up; anything
//   but the brace form is CO_E_CLASSSTRING.
JTZCOM_API BSTR SysAllocString(const OLECHAR* psz);
JTZCOM_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
JTZCOM_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
JTZCOM_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
JTZCOM_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
JTZCOM_API UINT SysStringLen(BSTR bstr);
JTZCOM_API UINT SysStringByteLen(BSTR bstr);
JTZCOM_API void SysFreeString(BSTR bstr);

JTZCOM_API void VariantInit(VARIANTARG* pvarg);
JTZCOM_API HRESULT VariantClear(VARIANTARG* pvarg);
JTZCOM_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
JTZCOM_API HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
JTZCOM_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                     USHORT wFlags, VARTYPE vt);
JTZCOM_API HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                       USHORT wFlags, VARTYPE vt);

JTZCOM_API HRESULT OleTranslateColor(OLE_COLOR clr, HPALETTE hpal, COLORREF* lpcolorref);

JTZCOM_API LONG InterlockedIncrement(LONG volatile* addend);
JTZCOM_API LONG InterlockedDecrement(LONG volatile* addend);

JTZCOM_API LCID GetUserDefaultLCID();

// There are no apartments: CoInitializeEx only counts per thread (S_OK, then
// S_FALSE; RPC_E_CHANGED_MODE for another model), and creation works without it.
JTZCOM_API HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
JTZCOM_API void CoUninitialize();
// The apartment the calling thread is in, as Windows counts it: the model it
// was initialised with, or, for a thread not initialised while some thread is
// in the multithreaded apartment, the implicit MTA (APTTYPE_MTA with
// APTTYPEQUALIFIER_IMPLICIT_MTA); CO_E_NOTINITIALIZED when there is none.
typedef enum _APTTYPE {
  APTTYPE_CURRENT = -1,
  APTTYPE_STA = 0,
  APTTYPE_MTA = 1,
  APTTYPE_NA = 2,
  APTTYPE_MAINSTA = 3
} APTTYPE;
typedef enum _APTTYPEQUALIFIER {
  APTTYPEQUALIFIER_NONE = 0,
  APTTYPEQUALIFIER_IMPLICIT_MTA = 1
} APTTYPEQUALIFIER;
JTZCOM_API HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier);

// Told, on the calling thread, of each CoInitializeEx and CoUninitialize made
// on it; what PostInitialize returns is what CoInitializeEx returns.
// Registered per thread (CoRegisterInitializeSpy takes a reference, given back
// by CoRevokeInitializeSpy on the same thread or at the thread's end).
typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER;
JTZCOM_API const IID IID_IInitializeSpy;
struct IInitializeSpy : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE PreInitialize(DWORD dwCoInit, DWORD dwCurThreadAptRefs) = 0;
  virtual HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hrCoInit, DWORD dwCoInit,
                                                   DWORD dwNewThreadAptRefs) = 0;
  virtual HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD dwCurThreadAptRefs) = 0;
  virtual HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD dwNewThreadAptRefs) = 0;
};
JTZCOM_API HRESULT CoRegisterInitializeSpy(IInitializeSpy* pSpy, ULARGE_INTEGER* puliCookie);
JTZCOM_API HRESULT CoRevokeInitializeSpy(ULARGE_INTEGER uliCookie);
// Classes come from the class registry: the file named by $JTZCOM_REGISTRY,
// else "com-registry" next to libjtzcom (written by the CMake function
// jtz_register_inproc_server). Only in-process servers exist; CLSCTX_LOCAL_SERVER
// is served in-process too. CoCreateInstanceEx creates on this machine only:
// any other machine name fails at once with
// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE).
JTZCOM_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv);
JTZCOM_API HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                      COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults);
JTZCOM_API HRESULT GetActiveObject(REFCLSID rclsid, void* pvReserved, IUnknown** ppunk);
JTZCOM_API HRESULT RegisterActiveObject(IUnknown* punk, REFCLSID rclsid, DWORD dwFlags,
                                        DWORD* pdwRegister);
JTZCOM_API HRESULT RevokeActiveObject(DWORD dwRegister, void* pvReserved);

// Memory for COM objects. On x86-64 hosts it comes from below 2 GiB, so that
// an object's address fits a 32-bit Java int field as it does in a 32-bit process.
JTZCOM_API LPVOID CoTaskMemAlloc(size_t cb);
JTZCOM_API void CoTaskMemFree(LPVOID pv);

JTZCOM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
JTZCOM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);

// ---- POSIX-only diagnostics (no Windows counterpart) ----
// Number of BSTRs allocated and not yet freed in this process.
JTZCOM_API long jtzcom_live_bstrs();
// Number of CoInitializeEx calls made in this process.
JTZCOM_API long jtzcom_initializations();
// Why the calling thread's latest CoCreateInstance(Ex) failed with `hr` in
// the class registry or the loader ("class {...} not registered: the class
// registry /x/com-registry cannot be read (No such file or directory)", or
// "class {...}: loading /x/lib.so failed: <the loader's reason>"), as a new
// BSTR for the caller to free, once; null when that creation did not fail so
// (another HRESULT, the server's own failure, or a success since).
JTZCOM_API BSTR jtzcom_take_creation_failure(HRESULT hr);
