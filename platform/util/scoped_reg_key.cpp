#include "platform/util/scoped_reg_key.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "component/oxa/exception/check_sites.h"
#include "component/oxa/exception/exception.h"

namespace qvr {
namespace {

constexpr REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr std::size_t kMaxStringChars = 0x7FFFFFFE;
constexpr std::size_t kLocalBufferChars = 64;
// Answers of ERROR_MORE_DATA after which the buffer grows ahead of the
// reported size, for a value that keeps growing between reads.
constexpr int kExactRegrowths = 5;

using RegOpenKeyTransactedFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY, HANDLE, PVOID);
using RegCreateKeyTransactedFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                                               PHKEY, LPDWORD, HANDLE, PVOID);

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

bool Accepts(StringPolicy policy, DWORD type) {
  return type == REG_SZ || (type == REG_EXPAND_SZ && policy != StringPolicy::kSzOnly);
}

// The thread token for RegOpenUserClassesRoot. Without impersonation there is
// none, which is a programming error of the caller: it throws.
oxa::KernelHandle OpenThreadTokenOrThrow() {
  constexpr DWORD kAccess = TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE;
  oxa::KernelHandle token;
  if (OpenThreadToken(GetCurrentThread(), kAccess, TRUE, token.Receive())) return token;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    if (OpenThreadToken(GetCurrentThread(), kAccess, FALSE, token.Receive())) return token;
    error = GetLastError();
  }
  const oxa::ResultCode code = error == ERROR_NO_TOKEN ? oxa::rc::NotFound : oxa::ResultFromWin32Error(error);
  oxa::ThrowCheckResultFailed(code, oxa::CheckSite::kThreadUserRoot);
}

}  // namespace

void ScopedRegKey::Replace(HKEY key, REGSAM access) {
  Close();
  key_.Reset(key);
  viewBits_ = access & kViewMask;
}

LONG ScopedRegKey::Acquire(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view, bool create) {
  access |= static_cast<REGSAM>(view);
  HKEY key = nullptr;
  LONG result = ERROR_INVALID_FUNCTION;
  const AccessKind kind = KindOf(transaction_);
  if (kind == AccessKind::Transacted && create) {
    if (auto createTransacted = FindAdvapiFunction<RegCreateKeyTransactedFn>("RegCreateKeyTransactedW"))
      result = createTransacted(parent, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr, transaction_->handle,
                                nullptr);
  } else if (kind == AccessKind::Transacted) {
    if (auto openTransacted = FindAdvapiFunction<RegOpenKeyTransactedFn>("RegOpenKeyTransactedW"))
      result = openTransacted(parent, subkey, 0, access, &key, transaction_->handle, nullptr);
  } else if (kind == AccessKind::Plain) {
    result = create ? RegCreateKeyExW(parent, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr)
                    : RegOpenKeyExW(parent, subkey, 0, access, &key);
  }
  if (result == ERROR_SUCCESS) Replace(key, access);
  return result;
}

LONG ScopedRegKey::Open(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view) {
  return Acquire(parent, subkey, access, view, false);
}

LONG ScopedRegKey::Create(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view) {
  return Acquire(parent, subkey, access, view, true);
}

LONG ScopedRegKey::OpenChild(const wchar_t* subkey, REGSAM access, ScopedRegKey& child) const {
  child.transaction_ = transaction_;
  return child.Open(key_.Get(), subkey, access | viewBits_);
}

LONG ScopedRegKey::OpenForThreadUser(HKEY root, const wchar_t* subkey, REGSAM access) {
  oxa::RegistryKeyHandle userRoot;
  LONG result = ERROR_SUCCESS;
  if (root == HKEY_CURRENT_USER) {
    result = RegOpenCurrentUser(access, userRoot.Receive());
  } else if (root == HKEY_CLASSES_ROOT) {
    const oxa::KernelHandle token = OpenThreadTokenOrThrow();
    result = RegOpenUserClassesRoot(token.Get(), 0, access, userRoot.Receive());
  }
  if (result != ERROR_SUCCESS) return result;
  result = Open(userRoot ? userRoot.Get() : root, subkey, access);
  if (result == ERROR_SUCCESS) userRoot_ = std::move(userRoot);
  return result;
}

void ScopedRegKey::Close() {
  key_.Reset();
  userRoot_.Reset();
  viewBits_ = 0;
}

LONG ScopedRegKey::ReadString(const wchar_t* name, StringPolicy policy, std::wstring& text) const {
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
    const LONG result = RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
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
    std::size_t length = 0;
    const LONG decoded = result != ERROR_SUCCESS ? result : DecodeString(policy, type, buffer, bytes, length);
    if (decoded != ERROR_SUCCESS) {
      text.clear();
      return decoded;
    }
    if (buffer == local) {
      text.assign(local, length);
    } else {
      text.resize(length);
    }
    return ERROR_SUCCESS;
  }
}

LONG ScopedRegKey::DecodeString(StringPolicy policy, DWORD type, wchar_t* data, DWORD bytes, std::size_t& length) {
  if (!Accepts(policy, type)) return ERROR_DATATYPE_MISMATCH;
  length = (static_cast<std::size_t>(bytes) + 1) / sizeof(wchar_t);
  const bool wholeUnits = bytes % sizeof(wchar_t) == 0;
  // An odd byte count leaves half a code unit: complete it with a zero byte
  // rather than dropping the byte that was stored.
  if (!wholeUnits) reinterpret_cast<BYTE*>(data)[bytes] = 0;
  const bool terminated = length > 0 && data[length - 1] == L'\0';
  if (policy == StringPolicy::kTerminatedSzOrExpandSz && bytes != 0 && (!wholeUnits || !terminated))
    return ERROR_INVALID_DATA;
  if (terminated) --length;
  return ERROR_SUCCESS;
}

LONG ScopedRegKey::DecodeDwordData(DWORD type, const void* data, DWORD bytes, DWORD& value) {
  if (bytes > sizeof(DWORD)) return ERROR_MORE_DATA;
  if (type != REG_DWORD) return ERROR_INVALID_DATA;
  value = 0;
  std::memcpy(&value, data, bytes);
  return ERROR_SUCCESS;
}

LONG ScopedRegKey::QueryValueInfo(const wchar_t* name, DWORD& type, DWORD& bytes) const {
  type = REG_NONE;
  bytes = 0;
  return RegQueryValueExW(key_.Get(), name, nullptr, &type, nullptr, &bytes);
}

namespace {

template <class Number>
LONG ReadNumber(HKEY key, const wchar_t* name, DWORD expectedType, Number& value) {
  DWORD type = REG_NONE;
  Number read = 0;
  DWORD size = sizeof(read);
  const LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size);
  if (result == ERROR_MORE_DATA) return ERROR_DATATYPE_MISMATCH;
  if (result != ERROR_SUCCESS) return result;
  if (type != expectedType || size != sizeof(read)) return ERROR_DATATYPE_MISMATCH;
  value = read;
  return ERROR_SUCCESS;
}

}  // namespace

LONG ScopedRegKey::ReadDword(const wchar_t* name, DWORD& value) const {
  return ReadNumber(key_.Get(), name, REG_DWORD, value);
}

LONG ScopedRegKey::ReadQword(const wchar_t* name, std::uint64_t& value) const {
  return ReadNumber(key_.Get(), name, REG_QWORD, value);
}

LONG ScopedRegKey::WriteString(const wchar_t* name, const std::wstring& text) const {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

LONG ScopedRegKey::WriteDword(const wchar_t* name, DWORD value) const {
  return RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG ScopedRegKey::DeleteValue(const wchar_t* name) const { return RegDeleteValueW(key_.Get(), name); }

LONG ScopedRegKey::VisitNames(DWORD nameChars, bool subKeys, const NameVisitor& visit,
                              const EnumErrorHandler& onError) const {
  std::wstring name;
  for (DWORD index = 0;; ++index) {
    name.assign(nameChars, L'\0');
    DWORD length = nameChars;
    const LONG result =
        subKeys ? RegEnumKeyExW(key_.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                : RegEnumValueW(key_.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) {
      if (onError(result)) continue;
      return result;
    }
    name.resize(length);
    if (!visit(name)) return ERROR_SUCCESS;
  }
}

LONG ScopedRegKey::VisitValues(DWORD nameChars, const ValueVisitor& visit, const EnumErrorHandler& onError) const {
  std::wstring name;
  // One unit more than is offered to the call: DecodeString may complete an
  // odd byte count.
  std::vector<wchar_t> data(kLocalBufferChars * 4 + 1);
  for (DWORD index = 0;;) {
    name.assign(nameChars, L'\0');
    DWORD length = nameChars;
    DWORD type = REG_NONE;
    const DWORD room = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    DWORD bytes = room;
    LONG result = RegEnumValueW(key_.Get(), index, name.data(), &length, nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (result == ERROR_MORE_DATA) {
      // The name or the data did not fit: the name alone tells which.
      length = nameChars;
      DWORD needed = 0;
      const LONG named = RegEnumValueW(key_.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, &needed);
      if (named == ERROR_SUCCESS && needed > room) {
        data.resize(needed / sizeof(wchar_t) + 2);
        continue;  // the same index, with room for its data
      }
    }
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    ++index;
    if (result != ERROR_SUCCESS) {
      if (onError(result)) continue;
      return result;
    }
    name.resize(length);
    if (!visit(name, type, data.data(), bytes)) return ERROR_SUCCESS;
  }
}

LONG ScopedRegKey::VisitValueNames(DWORD nameChars, const NameVisitor& visit, const EnumErrorHandler& onError) const {
  return VisitNames(nameChars, false, visit, onError);
}

LONG ScopedRegKey::VisitSubKeyNames(DWORD nameChars, const NameVisitor& visit, const EnumErrorHandler& onError) const {
  return VisitNames(nameChars, true, visit, onError);
}

}  // namespace qvr
