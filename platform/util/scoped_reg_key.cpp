#include "platform/util/scoped_reg_key.h"

#include <algorithm>
#include <new>
#include <utility>

namespace qvr {
namespace {

constexpr REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr std::size_t kMaxStringChars = 0x7FFFFFFE;
constexpr std::size_t kLocalBufferChars = 64;
// Answers of ERROR_MORE_DATA after which the buffer grows ahead of the
// reported size, for a value that keeps growing between reads.
constexpr int kExactRegrowths = 5;

using RegOpenKeyTransactedFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY, HANDLE, PVOID);
using RegCreateKeyTransactedFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                               const SECURITY_ATTRIBUTES*, PHKEY, LPDWORD, HANDLE,
                                               PVOID);

// The transacted functions are missing on some systems (Wine has no
// RegOpenKeyTransactedW), so they are looked up on every use.
template <typename Fn>
Fn FindAdvapiFunction(const char* name) {
  const HMODULE advapi = GetModuleHandleW(L"Advapi32.dll");
  if (advapi == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(advapi, name)));
}

enum class AccessKind { Transacted, Plain, Refused };

AccessKind KindOf(const RegTransaction* transaction) {
  if (transaction == nullptr) return AccessKind::Plain;
  if (transaction->handle != nullptr) return AccessKind::Transacted;
  return transaction->allowPlainAccess ? AccessKind::Plain : AccessKind::Refused;
}

}  // namespace

ScopedRegKey::ScopedRegKey(ScopedRegKey&& other) noexcept
    : key_(std::exchange(other.key_, nullptr)),
      viewBits_(std::exchange(other.viewBits_, 0)),
      transaction_(other.transaction_) {}

ScopedRegKey& ScopedRegKey::operator=(ScopedRegKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = std::exchange(other.key_, nullptr);
    viewBits_ = std::exchange(other.viewBits_, 0);
    transaction_ = other.transaction_;
  }
  return *this;
}

void ScopedRegKey::Replace(HKEY key, REGSAM access) {
  Close();
  key_ = key;
  viewBits_ = access & kViewMask;
}

LONG ScopedRegKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  LONG result = ERROR_INVALID_FUNCTION;
  switch (KindOf(transaction_)) {
    case AccessKind::Transacted:
      if (auto open = FindAdvapiFunction<RegOpenKeyTransactedFn>("RegOpenKeyTransactedW")) {
        result = open(root, subkey, 0, access, &key, transaction_->handle, nullptr);
      }
      break;
    case AccessKind::Plain:
      result = RegOpenKeyExW(root, subkey, 0, access, &key);
      break;
    case AccessKind::Refused:
      break;
  }
  if (result == ERROR_SUCCESS) Replace(key, access);
  return result;
}

LONG ScopedRegKey::Create(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  LONG result = ERROR_INVALID_FUNCTION;
  switch (KindOf(transaction_)) {
    case AccessKind::Transacted:
      if (auto create = FindAdvapiFunction<RegCreateKeyTransactedFn>("RegCreateKeyTransactedW")) {
        result = create(root, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr,
                        transaction_->handle, nullptr);
      }
      break;
    case AccessKind::Plain:
      result = RegCreateKeyExW(root, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr);
      break;
    case AccessKind::Refused:
      break;
  }
  if (result == ERROR_SUCCESS) Replace(key, access);
  return result;
}

void ScopedRegKey::Close() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
  viewBits_ = 0;
}

LONG ScopedRegKey::QueryString(const wchar_t* name, std::wstring& text) const {
  text.clear();
  wchar_t local[kLocalBufferChars];
  wchar_t* buffer = local;
  std::size_t capacity = kLocalBufferChars;
  if (text.capacity() >= kLocalBufferChars) {
    capacity = std::min(text.capacity(), kMaxStringChars);
    text.resize(capacity);
    buffer = text.data();
  }

  int moreDataAnswers = 0;
  for (;;) {
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    const LONG result = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result == ERROR_MORE_DATA) {
      std::size_t needed = (static_cast<std::size_t>(bytes) + 1) / sizeof(wchar_t);
      if (needed > kMaxStringChars) {
        text.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
      }
      if (++moreDataAnswers > kExactRegrowths) needed = std::min(needed * 2, kMaxStringChars);
      try {
        text.resize(needed);
      } catch (const std::bad_alloc&) {
        text.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
      }
      buffer = text.data();
      capacity = needed;
      continue;
    }
    if (result != ERROR_SUCCESS || type != REG_SZ) {
      text.clear();
      return result != ERROR_SUCCESS ? result : ERROR_DATATYPE_MISMATCH;
    }

    // An odd byte count leaves half a code unit: complete it with a zero byte
    // rather than dropping the byte that was stored.
    std::size_t length = (static_cast<std::size_t>(bytes) + 1) / sizeof(wchar_t);
    if (bytes % sizeof(wchar_t) != 0) reinterpret_cast<BYTE*>(buffer)[bytes] = 0;
    if (length > 0 && buffer[length - 1] == L'\0') --length;
    if (buffer == local) {
      text.assign(local, length);
    } else {
      text.resize(length);
    }
    return ERROR_SUCCESS;
  }
}

}  // namespace qvr
