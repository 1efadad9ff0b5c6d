// No C++ exception leaves a COM method of the component or of the platform
// layer: an allocation that fails inside one is answered with E_OUTOFMEMORY,
// and the component goes on working.
//
// Allocations fail on demand (failing_new.h); the component, loaded as a
// module, allocates through the same operator new.
#include <functional>
#include <new>

#include "failing_new.h"
#include "sim_test_support.h"

using jtz::test::FailingAllocations;
constexpr std::size_t kEverything = jtz::test::kEveryAllocation;
constexpr std::size_t kLarge = jtz::test::kLargeAllocations;

namespace simtest {
namespace {

OleString Long(size_t n) { return OleString(n, static_cast<OLECHAR>('w')); }

TEST(OutOfMemory, ComMethodsAnswerEOutOfMemoryAndTheComponentGoesOn) {
  Component c;
  ASSERT_EQ(c.PutText(DISPID_TEXT, "precious text"), S_OK);
  ISimControl* ctl = c.ctl();
  CountingSink sink;
  IConnectionPointContainer* cpc = nullptr;
  ASSERT_EQ(c.disp()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)),
            S_OK);
  IConnectionPoint* cp = nullptr;
  ASSERT_EQ(cpc->FindConnectionPoint(kIidEvents, &cp), S_OK);
  cpc->Release();

  const OleString big = Long(kLarge);  // made before any allocation fails
  BstrArg bigArg(big);
  const struct {
    const char* what;
    std::size_t failAbove;
    std::function<HRESULT()> call;
  } cases[] = {
      {"setText", kLarge, [&] { return c.Put(DISPID_TEXT, bigArg.v); }},
      {"setSelText", kLarge, [&] { return c.Put(32, bigArg.v); }},
      {"setImeName", kLarge, [&] { return c.Put(10, bigArg.v); }},
      {"TypeText", kLarge, [&] { return ctl->TypeText(big.c_str()); }},
      {"FailMember", kLarge, [&] { return ctl->FailMember(51, E_FAIL, big.c_str()); }},
      {"OverrideResult", kEverything,
       [&] {
         VARIANT v;
         VariantInit(&v);
         v.vt = VT_I4;
         v.lVal = 5;
         return ctl->OverrideResult(57, &v, S_OK);
       }},
      {"Advise", kEverything,
       [&] {
         DWORD cookie = 0;
         return cp->Advise(&sink, &cookie);
       }},
      {"CoCreateInstance", kEverything,
       [&] {
         IDispatch* d = nullptr;
         const HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             reinterpret_cast<void**>(&d));
         if (d) d->Release();
         return hr;
       }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    HRESULT hr = S_OK;
    try {
      FailingAllocations failing(k.failAbove);
      hr = k.call();
    } catch (const std::bad_alloc&) {
      ADD_FAILURE() << "std::bad_alloc came out of the COM method";
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(c.Text(), "precious text");
  }
  // Nothing half done: no connection was made, and every member still answers.
  ULONG connections = 9;
  ASSERT_EQ(ctl->ConnectionCount(&connections), S_OK);
  EXPECT_EQ(connections, 0u);
  EXPECT_EQ(c.PutText(DISPID_TEXT, "after"), S_OK);
  EXPECT_EQ(c.Text(), "after");
  EXPECT_EQ(ctl->WaitIdle(5000), S_OK);

  // On the event thread: an event whose delivery cannot be prepared is dropped,
  // and the thread goes on.
  DWORD cookie = 0;
  ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
  {
    FailingAllocations failing(kEverything);
    EXPECT_EQ(ctl->Click(), S_OK);
  }
  EXPECT_EQ(sink.Total(), 0);
  EXPECT_EQ(ctl->Click(), S_OK);
  EXPECT_EQ(sink.Count(kOnClick), 1);
  EXPECT_EQ(cp->Unadvise(cookie), S_OK);
  cp->Release();
}

}  // namespace
}  // namespace simtest
