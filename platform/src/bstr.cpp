// BSTR: a length-prefixed UTF-16 string. The 4 bytes before the first
// character hold the length in bytes (without the terminator); a zero
// character follows the last one, so a BSTR is also a C string of OLECHARs.
#include <posixcom/com.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> live_bstrs{0};

constexpr size_t kPrefix = sizeof(uint32_t);

uint32_t* header(BSTR bstr) { return reinterpret_cast<uint32_t*>(bstr) - 1; }

// Allocates room for `chars` characters plus terminator; the characters are
// zeroed, so an allocation without a source is a string of NULs.
BSTR allocate(UINT chars) {
  // The byte length must fit the 32-bit prefix.
  if (chars > (UINT32_MAX - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = static_cast<size_t>(chars) * sizeof(OLECHAR);
  void* block = std::calloc(1, kPrefix + bytes + sizeof(OLECHAR));
  if (!block) return nullptr;
  *static_cast<uint32_t*>(block) = static_cast<uint32_t>(bytes);
  live_bstrs.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<BSTR>(static_cast<char*>(block) + kPrefix);
}

}  // namespace

JTZCOM_API BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT length = 0;
  while (psz[length]) ++length;
  return SysAllocStringLen(psz, length);
}

JTZCOM_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  BSTR bstr = allocate(ui);
  if (bstr && strIn) std::memcpy(bstr, strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
  return bstr;
}

JTZCOM_API UINT SysStringLen(BSTR bstr) { return bstr ? *header(bstr) / sizeof(OLECHAR) : 0; }

JTZCOM_API void SysFreeString(BSTR bstr) {
  if (!bstr) return;
  live_bstrs.fetch_sub(1, std::memory_order_relaxed);
  std::free(header(bstr));
}

JTZCOM_API long jtzcom_live_bstrs() { return live_bstrs.load(std::memory_order_relaxed); }

// Not yet implemented.
JTZCOM_API BSTR SysAllocStringByteLen(LPCSTR, UINT) { return nullptr; }
JTZCOM_API INT SysReAllocString(BSTR*, const OLECHAR*) { return FALSE; }
JTZCOM_API INT SysReAllocStringLen(BSTR*, const OLECHAR*, UINT) { return FALSE; }
JTZCOM_API UINT SysStringByteLen(BSTR) { return 0; }
