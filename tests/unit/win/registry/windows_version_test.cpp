#include "platform/util/windows_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

namespace qvr {
namespace {

constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr DWORD kView64 = KEY_WOW64_64KEY;

std::optional<DWORD> ReadUbr() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | kView64, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD revision = 0;
  DWORD size = sizeof(revision);
  const LONG error = RegGetValueW(key, nullptr, L"UBR", RRF_RT_REG_DWORD, nullptr, &revision, &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return std::nullopt;
  return revision;
}

// Wine records no UBR: the test puts one into the 64-bit view of its private
// prefix for its own run and removes it again.
class TemporaryUbr {
 public:
  TemporaryUbr() {
    if (ReadUbr()) return;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE | kView64, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    Set(4321);
  }
  ~TemporaryUbr() {
    if (key_ == nullptr) return;
    RegDeleteValueW(key_, L"UBR");
    RegCloseKey(key_);
  }
  bool Active() const { return key_ != nullptr; }
  void Set(DWORD value) const {
    RegSetValueExW(key_, L"UBR", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }

 private:
  HKEY key_ = nullptr;
};

// Each test runs in a process of its own, so this is the first query.
TEST(WindowsVersion, ReportsTheSystemVersionAndCachesIt) {
  const TemporaryUbr temporaryUbr;
  const std::optional<DWORD> ubr = ReadUbr();
  ASSERT_TRUE(ubr.has_value());

  WindowsVersion first;
  ASSERT_EQ(GetWindowsVersion(first), oxa::rc::Ok);
  // The test prefix is set to Windows 10.
  EXPECT_EQ(first.major, 10u);
  EXPECT_EQ(first.minor, 0u);
  EXPECT_GE(first.build, 10240u);
  EXPECT_EQ(first.servicePackMajor, 0u);
  EXPECT_EQ(first.updateBuildRevision, *ubr);

  if (temporaryUbr.Active()) temporaryUbr.Set(*ubr + 1);
  WindowsVersion second;
  ASSERT_EQ(GetWindowsVersion(second), oxa::rc::Ok);
  EXPECT_EQ(second.major, first.major);
  EXPECT_EQ(second.minor, first.minor);
  EXPECT_EQ(second.build, first.build);
  EXPECT_EQ(second.servicePackMajor, first.servicePackMajor);
  EXPECT_EQ(second.updateBuildRevision, first.updateBuildRevision);
}

}  // namespace
}  // namespace qvr
