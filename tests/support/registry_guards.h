// Registry state for tests: key trees removed when the test ends, a key of
// the test's own below HKCU\Software\QvrTest, keys whose security refuses
// writing, and typed reads of what the module wrote.
#pragma once

#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "component/oxa/system/unique_handle.h"
#include "platform/util/scoped_reg_key.h"
#include "tests/support/msi_session.h"

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

// HKCU\Software\QvrTest\<Suite.Name> of the running test, created empty, so
// that parallel test processes never share a key; removed with its content.
class TestRegistryKey {
 public:
  TestRegistryKey() : tree_(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + TestName(), L"Software\\QvrTest") {
    CreateSubKey(L"");
  }

  const std::wstring& Path() const { return tree_.Path(); }
  std::wstring PathOf(std::wstring_view subkey) const {
    return subkey.empty() ? Path() : Path() + L"\\" + std::wstring(subkey);
  }
  LONG CreateSubKey(std::wstring_view subkey) const {
    return qvr::ScopedRegKey().Create(HKEY_CURRENT_USER, PathOf(subkey).c_str(), KEY_ALL_ACCESS);
  }
  bool Exists(std::wstring_view subkey) const {
    return qvr::ScopedRegKey().Open(HKEY_CURRENT_USER, PathOf(subkey).c_str(), KEY_READ) == ERROR_SUCCESS;
  }
  // Stores raw bytes, so that tests control terminators and odd sizes.
  void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, Path().c_str(), name, type, data, bytes);
  }
  // A string value with its terminating NUL.
  void SetString(const wchar_t* name, std::wstring_view text, DWORD type = REG_SZ) const {
    const std::wstring terminated(text);
    SetValue(name, type, terminated.c_str(), static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
  }

 private:
  ScopedKeyTree tree_;
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
    key_.Create(root, path.c_str(), KEY_ALL_ACCESS);
    locked_ = key_.IsOpen() && SetAccess(L"D:P(A;;WD;;;WD)");
  }
  ~ScopedKeyLock() {
    if (key_.IsOpen()) SetAccess(L"D:P(A;;KA;;;WD)");
  }
  ScopedKeyLock(const ScopedKeyLock&) = delete;
  ScopedKeyLock& operator=(const ScopedKeyLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  bool SetAccess(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      return false;
    const oxa::LocalMemory owner(descriptor);
    return RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  }

  qvr::ScopedRegKey key_;  // opened before the lock, so it keeps WRITE_DAC
  bool locked_ = false;
};

struct RegValue {
  DWORD type = REG_NONE;
  std::wstring bytes;  // the data as code units (an odd byte is dropped)
  DWORD size = 0;
};

// A value as stored, or nothing when the key or the value is absent.
inline std::optional<RegValue> ReadRegValue(HKEY root, const std::wstring& path, const wchar_t* name) {
  qvr::ScopedRegKey key;
  if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  RegValue value;
  if (key.QueryValueInfo(name, value.type, value.size) != ERROR_SUCCESS) return std::nullopt;
  value.bytes.resize(value.size / sizeof(wchar_t) + 1);
  if (RegQueryValueExW(key.Get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()),
                       &value.size) != ERROR_SUCCESS)
    return std::nullopt;
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
  return qvr::ScopedRegKey().Open(root, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

}  // namespace qvrtest
