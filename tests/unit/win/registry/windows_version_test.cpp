#include "platform/util/windows_version.h"

#include <gtest/gtest.h>

#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

// Wine records no UBR: the test puts one into the 64-bit view of its private
// prefix, changes it after the first query and removes it again. Each test
// runs in a process of its own, so this is the first query.
TEST(WindowsVersion, ReportsTheSystemVersionAndCachesIt) {
  ScopedRegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                     KEY_QUERY_VALUE | KEY_SET_VALUE, RegistryView::k64Bit),
            ERROR_SUCCESS);
  DWORD recorded = 0;
  const bool hadUbr = key.ReadDword(L"UBR", recorded) == ERROR_SUCCESS;
  if (!hadUbr) key.WriteDword(L"UBR", recorded = 4321);

  WindowsVersion first;
  ASSERT_EQ(GetWindowsVersion(first), oxa::rc::Ok);
  // The test prefix is set to Windows 10.
  EXPECT_EQ(first.major, 10u);
  EXPECT_EQ(first.minor, 0u);
  EXPECT_GE(first.build, 10240u);
  EXPECT_EQ(first.servicePackMajor, 0u);
  EXPECT_EQ(first.updateBuildRevision, recorded);

  if (!hadUbr) key.WriteDword(L"UBR", recorded + 1);
  WindowsVersion second;
  ASSERT_EQ(GetWindowsVersion(second), oxa::rc::Ok);
  EXPECT_EQ(second.build, first.build);
  EXPECT_EQ(second.updateBuildRevision, first.updateBuildRevision);
  if (!hadUbr) key.DeleteValue(L"UBR");
}

}  // namespace
}  // namespace qvr
