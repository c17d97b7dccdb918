#include "platform/util/windows_version.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace qvr {
namespace {

constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

void SetUbr(HKEY key, DWORD value) {
  RegSetValueExW(key, L"UBR", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Wine records no UBR: the test puts one into the 64-bit view of its private
// prefix, changes it after the first query and removes it again. Each test
// runs in a process of its own, so this is the first query.
TEST(WindowsVersion, ReportsTheSystemVersionAndCachesIt) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
  DWORD size = sizeof(DWORD), recorded = 0;
  const bool hadUbr = RegGetValueW(key, nullptr, L"UBR", RRF_RT_REG_DWORD, nullptr, &recorded, &size) == ERROR_SUCCESS;
  if (!hadUbr) SetUbr(key, recorded = 4321);

  WindowsVersion first;
  ASSERT_EQ(GetWindowsVersion(first), oxa::rc::Ok);
  // The test prefix is set to Windows 10.
  EXPECT_EQ(first.major, 10u);
  EXPECT_EQ(first.minor, 0u);
  EXPECT_GE(first.build, 10240u);
  EXPECT_EQ(first.servicePackMajor, 0u);
  EXPECT_EQ(first.updateBuildRevision, recorded);

  if (!hadUbr) SetUbr(key, recorded + 1);
  WindowsVersion second;
  ASSERT_EQ(GetWindowsVersion(second), oxa::rc::Ok);
  EXPECT_EQ(second.build, first.build);
  EXPECT_EQ(second.updateBuildRevision, first.updateBuildRevision);
  if (!hadUbr) RegDeleteValueW(key, L"UBR");
  RegCloseKey(key);
}

}  // namespace
}  // namespace qvr
