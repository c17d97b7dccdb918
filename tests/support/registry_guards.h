// Registry state for tests that write outside their product key: key trees
// removed when the test ends, keys whose security refuses writing, and typed
// reads of what the module wrote.
#pragma once

#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace qvrtest {

// Removes a key tree before the test (leftovers of an aborted run) and when
// the guard ends; then also `emptyParent` (a key path of the tests' own, such
// as Software\QvrTest) unless other tests still have keys below it.
class ScopedKeyTree {
 public:
  ScopedKeyTree(HKEY root, std::wstring path, std::wstring emptyParent = L"")
      : root_(root), path_(std::move(path)), emptyParent_(std::move(emptyParent)) {
    SHDeleteKeyW(root_, path_.c_str());
  }
  ~ScopedKeyTree() {
    SHDeleteKeyW(root_, path_.c_str());
    // RegDeleteKeyW refuses a key that has subkeys.
    if (!emptyParent_.empty()) RegDeleteKeyW(root_, emptyParent_.c_str());
  }
  ScopedKeyTree(const ScopedKeyTree&) = delete;
  ScopedKeyTree& operator=(const ScopedKeyTree&) = delete;
  const std::wstring& Path() const { return path_; }

 private:
  HKEY root_;
  std::wstring path_;
  std::wstring emptyParent_;
};

// Creates a key and replaces its access list: everyone may change its
// security, nothing else, so opening it (also by creating it) is refused, and
// so is deleting a tree that holds it, which must open it. (Wine deletes a
// key whose list lacks DELETE; it does not check the parent's
// KEY_CREATE_SUB_KEY either.) The guard gives everyone full access again when
// it ends, so the key tree can be removed.
class ScopedKeyLock {
 public:
  ScopedKeyLock(HKEY root, const std::wstring& path) {
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) != ERROR_SUCCESS)
      key_ = nullptr;
    locked_ = key_ && SetAccess(L"D:P(A;;WD;;;WD)");
  }
  ~ScopedKeyLock() {
    if (!key_) return;
    SetAccess(L"D:P(A;;KA;;;WD)");
    RegCloseKey(key_);
  }
  ScopedKeyLock(const ScopedKeyLock&) = delete;
  ScopedKeyLock& operator=(const ScopedKeyLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  bool SetAccess(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      return false;
    const bool set = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return set;
  }

  HKEY key_ = nullptr;  // opened before the lock, so it keeps WRITE_DAC
  bool locked_ = false;
};

struct RegValue {
  DWORD type = REG_NONE;
  std::wstring bytes;  // the data as code units (an odd byte is dropped)
  DWORD size = 0;
};

// A value as stored, or nothing when the key or the value is absent.
inline std::optional<RegValue> ReadRegValue(HKEY root, const std::wstring& path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  RegValue value;
  value.bytes.resize(2048);
  value.size = static_cast<DWORD>(value.bytes.size() * sizeof(wchar_t));
  const LONG result =
      RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()), &value.size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  value.bytes.resize(value.size / sizeof(wchar_t));
  return value;
}

// A REG_DWORD value; nothing when it is absent or of another type or size.
inline std::optional<DWORD> ReadDword(HKEY root, const std::wstring& path, const wchar_t* name) {
  const auto value = ReadRegValue(root, path, name);
  if (!value || value->type != REG_DWORD || value->size != sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  std::memcpy(&number, value->bytes.data(), sizeof(number));
  return number;
}

// A REG_SZ value without its terminating NUL; nothing when it is absent, of
// another type or not terminated.
inline std::optional<std::wstring> ReadSz(HKEY root, const std::wstring& path, const wchar_t* name) {
  const auto value = ReadRegValue(root, path, name);
  if (!value || value->type != REG_SZ || value->bytes.empty() || value->bytes.back() != L'\0') return std::nullopt;
  return value->bytes.substr(0, value->bytes.size() - 1);
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace qvrtest
