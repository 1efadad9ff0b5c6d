// BSTR: a length-prefixed UTF-16 string. The 4 bytes just before the first
// character hold the length in bytes (without the terminator). At least two
// zero bytes follow the last byte, so a BSTR is also a C string of OLECHARs,
// even when its byte length is odd. As on Windows, the characters start at an
// address aligned to the size of a pointer: the block begins with padding up
// to that size, the length prefix at its end.
#include <posixcom/com.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> live_bstrs{0};

constexpr size_t kPrefix = sizeof(void*) > sizeof(uint32_t) ? sizeof(void*) : sizeof(uint32_t);
constexpr size_t kTerminator = sizeof(OLECHAR);
// The longest string in bytes: the whole block stays below 2 GiB, the most a
// 32-bit process could hope to allocate, whatever length a caller asks for.
constexpr size_t kMaxBytes = 0x7FFFFFFF - kPrefix - kTerminator - 1;

void* block_of(BSTR bstr) { return reinterpret_cast<char*>(bstr) - kPrefix; }

uint32_t byte_length(BSTR bstr) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(bstr) - sizeof bytes, sizeof bytes);
  return bytes;
}

// A string of `bytes` zero bytes; null when it is too long or memory runs out.
BSTR allocate(size_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  // An odd length gets one byte more, so that a whole zero OLECHAR ends it.
  void* block = std::calloc(1, kPrefix + bytes + (bytes & 1) + kTerminator);
  if (!block) return nullptr;
  char* data = static_cast<char*>(block) + kPrefix;
  const uint32_t length = static_cast<uint32_t>(bytes);
  std::memcpy(data - sizeof length, &length, sizeof length);
  live_bstrs.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<BSTR>(data);
}

// Replaces *pbstr by `fresh` when there is one; the old string is freed only
// after the new one was made from it.
INT replace(BSTR* pbstr, BSTR fresh) {
  if (!fresh) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

}  // namespace

JTZCOM_API BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  size_t length = 0;
  while (psz[length]) ++length;
  if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

// Without a source the characters are zero (Windows leaves them undefined).
JTZCOM_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
  BSTR bstr = allocate(bytes);
  if (bstr && strIn) std::memcpy(bstr, strIn, bytes);
  return bstr;
}

JTZCOM_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  BSTR bstr = allocate(len);
  if (bstr && psz) std::memcpy(bstr, psz, len);
  return bstr;
}

// A null source frees the string and leaves null, as SysAllocString(nullptr)
// would give. On failure the old string stays.
JTZCOM_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return FALSE;
  if (!psz) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  return replace(pbstr, SysAllocString(psz));
}

// `psz` may point into the old string itself.
JTZCOM_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (!pbstr) return FALSE;
  return replace(pbstr, SysAllocStringLen(psz, len));
}

JTZCOM_API UINT SysStringLen(BSTR bstr) { return bstr ? byte_length(bstr) / sizeof(OLECHAR) : 0; }

JTZCOM_API UINT SysStringByteLen(BSTR bstr) { return bstr ? byte_length(bstr) : 0; }

JTZCOM_API void SysFreeString(BSTR bstr) {
  if (!bstr) return;
  live_bstrs.fetch_sub(1, std::memory_order_relaxed);
  std::free(block_of(bstr));
}

JTZCOM_API long jtzcom_live_bstrs() { return live_bstrs.load(std::memory_order_relaxed); }
