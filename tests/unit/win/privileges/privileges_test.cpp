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

bool Enabled(HANDLE token, const wchar_t* name) {
  LUID luid;
  EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid));
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> data(size);
  EXPECT_TRUE(GetTokenInformation(token, TokenPrivileges, data.data(), size, &size));
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

bool ThreadEnabled(const wchar_t* name) {
  oxa::KernelHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive())) return false;
  return Enabled(token.Get(), name);
}

bool ProcessEnabled(const wchar_t* name) {
  oxa::KernelHandle token;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()));
  return Enabled(token.Get(), name);
}

TEST(EnablePrivilege, ResultsForHeldMissingAndUnknownPrivileges) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  oxa::KernelHandle token;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token.Receive()));
  oxa::KernelHandle queryOnly;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, queryOnly.Receive()));

  EXPECT_FALSE(Enabled(token.Get(), L"SeBackupPrivilege"));
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeBackupPrivilege"), oxa::rc::Ok);
  EXPECT_TRUE(Enabled(token.Get(), L"SeBackupPrivilege"));
  // Enabling again is no failure.
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeBackupPrivilege"), oxa::rc::Ok);

  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeRestorePrivilege"), oxa::rc::Ok);
  EXPECT_EQ(EnablePrivilege(token.Get(), kMissingPrivilege), kNotAllAssigned);
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeNoSuchPrivilege"), kNoSuchPrivilege);
  EXPECT_EQ(EnablePrivilege(queryOnly.Get(), L"SeShutdownPrivilege"), oxa::rc::AccessDenied);
  EXPECT_EQ(EnablePrivilege(nullptr, L"SeShutdownPrivilege"), oxa::rc::InvalidHandle);
  RevertToSelf();
  EXPECT_FALSE(ProcessEnabled(L"SeBackupPrivilege"));
}

// A privilege the token lacks is traced and the others are enabled all the same.
TEST(ScopedPrivilegesAdjust, EnablesForTheThreadUntilTheScopeEnds) {
  MemoryTracer tracer;
  ASSERT_FALSE(ThreadImpersonates());
  {
    const ScopedPrivilegesAdjust adjust(&tracer, {L"SeBackupPrivilege", kMissingPrivilege, L"SeRestorePrivilege"});
    EXPECT_TRUE(ThreadImpersonates());
    EXPECT_TRUE(ThreadEnabled(L"SeBackupPrivilege"));
    EXPECT_TRUE(ThreadEnabled(L"SeRestorePrivilege"));
    EXPECT_FALSE(ProcessEnabled(L"SeBackupPrivilege"));
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
    EXPECT_TRUE(ThreadEnabled(L"SeBackupPrivilege"));
  }
  EXPECT_FALSE(ThreadImpersonates());
  const Records expected = {{700, "[priv_adjust]\tAdjust privileges [], attr: 2"}};
  EXPECT_EQ(tracer.records, expected);
}

}  // namespace
}  // namespace qvr
