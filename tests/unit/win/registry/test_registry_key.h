// A registry key of one test under HKCU\Software\QvrTest, removed with all its
// content when the test ends.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace qvr::test {

class TestRegistryKey {
 public:
  static constexpr wchar_t kParent[] = L"Software\\QvrTest";

  // Named after the running test, so that parallel test processes never share a key.
  TestRegistryKey() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    path_ = std::wstring(kParent) + L"\\" + std::wstring(name.begin(), name.end());
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    CreateSubKey(L"");
  }
  ~TestRegistryKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
    // Only succeeds when no other test's key is left below it.
    RegDeleteKeyW(HKEY_CURRENT_USER, kParent);
  }
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring PathOf(std::wstring_view subkey) const {
    return subkey.empty() ? path_ : path_ + L"\\" + std::wstring(subkey);
  }

  LONG CreateSubKey(std::wstring_view subkey) const {
    HKEY key = nullptr;
    const LONG error = RegCreateKeyExW(HKEY_CURRENT_USER, PathOf(subkey).c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) RegCloseKey(key);
    return error;
  }

  bool Exists(std::wstring_view subkey) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, PathOf(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  // Stores raw bytes, so that tests control terminators and odd sizes.
  void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) const {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path_.c_str(), name, type, data, bytes), ERROR_SUCCESS);
  }
  // A string value with its terminating NUL.
  void SetString(const wchar_t* name, std::wstring_view text, DWORD type = REG_SZ) const {
    const std::wstring terminated(text);
    SetValue(name, type, terminated.c_str(), static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
  }

 private:
  std::wstring path_;
};

}  // namespace qvr::test
