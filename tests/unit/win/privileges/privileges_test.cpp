#include "platform/util/privileges.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/core/trace/memory_tracer.h"

namespace qvr {
namespace {

constexpr oxa::ResultCode kNotAllAssigned = static_cast<oxa::ResultCode>(0x80070514u);
constexpr oxa::ResultCode kNoSuchPrivilege = static_cast<oxa::ResultCode>(0x80070521u);
// Wine's token, like a normal user's on Windows, does not hold this one.
constexpr wchar_t kMissingPrivilege[] = L"SeCreateTokenPrivilege";

using qvrtest::MemoryTracer;
using Records = std::vector<MemoryTracer::Record>;

bool ThreadImpersonates() {
  oxa::KernelHandle token;
  return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive()) != FALSE;
}

// Whether the thread's (or the process's) token holds `name` enabled; false
// without a token.
bool Enabled(const wchar_t* name, bool ofThread = true) {
  oxa::KernelHandle token;
  if (!(ofThread ? OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive())
                 : OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())))
    return false;
  LUID luid;
  EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid));
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> data(size);
  EXPECT_TRUE(GetTokenInformation(token.Get(), TokenPrivileges, data.data(), size, &size));
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart)
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  return false;
}

TEST(EnablePrivilege, ResultsForHeldMissingAndUnknownPrivileges) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  oxa::KernelHandle token;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token.Receive()));
  oxa::KernelHandle queryOnly;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, queryOnly.Receive()));

  EXPECT_FALSE(Enabled(L"SeBackupPrivilege"));
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeBackupPrivilege"), oxa::rc::Ok);
  EXPECT_TRUE(Enabled(L"SeBackupPrivilege"));
  // Enabling again is no failure.
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeBackupPrivilege"), oxa::rc::Ok);

  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeRestorePrivilege"), oxa::rc::Ok);
  EXPECT_EQ(EnablePrivilege(token.Get(), kMissingPrivilege), kNotAllAssigned);
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeNoSuchPrivilege"), kNoSuchPrivilege);
  EXPECT_EQ(EnablePrivilege(queryOnly.Get(), L"SeShutdownPrivilege"), oxa::rc::AccessDenied);
  EXPECT_EQ(EnablePrivilege(nullptr, L"SeShutdownPrivilege"), oxa::rc::InvalidHandle);
  RevertToSelf();
  EXPECT_FALSE(Enabled(L"SeBackupPrivilege", false));
}

// A privilege the token lacks is traced and the others are enabled all the same.
TEST(ScopedPrivilegesAdjust, EnablesForTheThreadUntilTheScopeEnds) {
  MemoryTracer tracer;
  ASSERT_FALSE(ThreadImpersonates());
  {
    const ScopedPrivilegesAdjust adjust(&tracer, {L"SeBackupPrivilege", kMissingPrivilege, L"SeRestorePrivilege"});
    EXPECT_TRUE(ThreadImpersonates());
    EXPECT_TRUE(Enabled(L"SeBackupPrivilege"));
    EXPECT_TRUE(Enabled(L"SeRestorePrivilege"));
    EXPECT_FALSE(Enabled(L"SeBackupPrivilege", false));
  }
  EXPECT_FALSE(ThreadImpersonates());
  const Records expected = {
      {700, "[priv_adjust]\tAdjust privileges [SeBackupPrivilege,SeCreateTokenPrivilege,SeRestorePrivilege,], attr: 2"},
      {300, "[priv_adjust]\tFailed to enable privilege: SeCreateTokenPrivilege, err: 0x80070514 (Unknown result code)"},
  };
  EXPECT_EQ(tracer.records, expected);
}

TEST(ScopedPrivilegesAdjust, NestedScopesRestoreTheOuterImpersonation) {
  MemoryTracer tracer;
  {
    const ScopedPrivilegesAdjust outer(nullptr, {L"SeBackupPrivilege"});
    { const ScopedPrivilegesAdjust inner(&tracer, {}); }
    EXPECT_TRUE(ThreadImpersonates());
    EXPECT_TRUE(Enabled(L"SeBackupPrivilege"));
  }
  EXPECT_FALSE(ThreadImpersonates());
  const Records expected = {{700, "[priv_adjust]\tAdjust privileges [], attr: 2"}};
  EXPECT_EQ(tracer.records, expected);
}

}  // namespace
}  // namespace qvr
