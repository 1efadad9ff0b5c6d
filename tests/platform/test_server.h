// The fake in-process server module of the platform tests: what it serves and
// the counters it exports for the tests to read.
#pragma once

#include <posixcom/com.h>

// Classes the fake server serves (each a counted object); any other CLSID is
// refused with CLASS_E_CLASSNOTAVAILABLE.
constexpr CLSID kDefaultRegistryClass = {  // registered in the build's registry
    0x6A1E0001,
    0x5C3B,
    0x4F1D,
    {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x20, 0x01}};
constexpr CLSID kTestRegistryClass = {  // registered in tests/platform/test-registry
    0x6A1E0002,
    0x5C3B,
    0x4F1D,
    {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x20, 0x02}};
constexpr CLSID kRuntimeRegistryClass = {  // in registries the tests write
    0x6A1E0003,
    0x5C3B,
    0x4F1D,
    {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x20, 0x03}};
constexpr CLSID kRacedClass = {  // created from several threads at once
    0x6A1E0004,
    0x5C3B,
    0x4F1D,
    {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x20, 0x04}};
constexpr CLSID kRefusedClass = {  // registered, but the server does not serve it
    0x6A1E00FF,
    0x5C3B,
    0x4F1D,
    {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x20, 0xFF}};

// A custom interface of the served objects: which class made them.
constexpr IID IID_ITestObject = {
    0x6A1E1000, 0x5C3B, 0x4F1D, {0x9E, 0x21, 0x0A, 0x4C, 0x7B, 0x11, 0x10, 0x00}};
struct ITestObject : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClass(CLSID* clsid) = 0;
};

// Counters exported by the module (looked up with dlsym).
struct TestServerCounters {
  LONG live_objects;    // objects not yet destroyed
  LONG live_factories;  // class factories not yet destroyed
  LONG class_objects;   // successful DllGetClassObject calls
};
typedef const TestServerCounters*(STDAPICALLTYPE* TestServerCountersFn)();
