#include "platform/util/privileges.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "tests/unit/core/trace/memory_tracer.h"

namespace qvr {
namespace {

// Wine's token, like a normal user's on Windows, does not hold this one.
constexpr wchar_t kMissingPrivilege[] = L"SeCreateTokenPrivilege";

using qvrtest::MemoryTracer;
using Records = std::vector<MemoryTracer::Record>;

// Whether the thread's (or the process's) token holds `name` enabled; false without a token.
bool Enabled(const wchar_t* name, bool ofThread = true) {
  oxa::KernelHandle token;
  if (!(ofThread ? OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive())
                 : OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())))
    return false;
  PRIVILEGE_SET required = {1, PRIVILEGE_SET_ALL_NECESSARY, {}};
  BOOL enabled = FALSE;
  EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &required.Privilege[0].Luid));
  EXPECT_TRUE(PrivilegeCheck(token.Get(), &required, &enabled)) << GetLastError();
  return enabled != FALSE;
}

// A successful call leaves no older error in the result.
TEST(EnablePrivilege, SucceedsWhateverTheLastErrorWas) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  oxa::KernelHandle token;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token.Receive()));
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(EnablePrivilege(token.Get(), L"SeRestorePrivilege"), oxa::rc::Ok);
  EXPECT_TRUE(Enabled(L"SeRestorePrivilege"));
  RevertToSelf();
}

// A privilege the token lacks is traced and the others are enabled all the same.
TEST(ScopedPrivilegesAdjust, EnablesForTheThreadUntilTheScopeEnds) {
  MemoryTracer tracer;
  {
    const ScopedPrivilegesAdjust adjust(&tracer, {L"SeBackupPrivilege", kMissingPrivilege, L"SeRestorePrivilege"});
    EXPECT_TRUE(Enabled(L"SeBackupPrivilege"));
    EXPECT_TRUE(Enabled(L"SeRestorePrivilege"));
    EXPECT_FALSE(Enabled(L"SeBackupPrivilege", false));
  }
  EXPECT_FALSE(Enabled(L"SeBackupPrivilege"));  // the thread's impersonation has ended
  const Records expected = {
      {700, "[priv_adjust]\tAdjust privileges [SeBackupPrivilege,SeCreateTokenPrivilege,SeRestorePrivilege,], attr: 2"},
      {300, "[priv_adjust]\tFailed to enable privilege: SeCreateTokenPrivilege, err: 0x80070514 (Unknown result code)"},
  };
  EXPECT_EQ(tracer.records, expected);
}

}  // namespace
}  // namespace qvr
