// Enabling token privileges for the calling thread, for operations such as
// loading another user's registry hive.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <span>

#include "component/oxa/result_code.h"
#include "component/oxa/trace/tracer.h"
#include "component/oxa/system/unique_handle.h"

namespace qvr {

// Enables one privilege in `token` (opened with TOKEN_ADJUST_PRIVILEGES). A
// privilege the token does not hold gives 0x80070514 (ERROR_NOT_ALL_ASSIGNED),
// an unknown name 0x80070521 (ERROR_NO_SUCH_PRIVILEGE).
oxa::ResultCode EnablePrivilege(HANDLE token, const wchar_t* name);

// Makes the calling thread impersonate its own process and enables the named
// privileges in that thread token until the scope ends; then the thread goes
// back to the impersonation it had before (usually none). A privilege that
// cannot be enabled is traced and skipped. Throws
// oxa::CheckResultFailedException when the impersonation or its token cannot
// be had. Must be destroyed on the thread that created it.
class ScopedPrivilegesAdjust {
 public:
  ScopedPrivilegesAdjust(oxa::ITracer* tracer, std::span<const wchar_t* const> privileges);
  ScopedPrivilegesAdjust(oxa::ITracer* tracer, std::initializer_list<const wchar_t*> privileges)
      : ScopedPrivilegesAdjust(tracer, std::span<const wchar_t* const>(privileges.begin(), privileges.size())) {}
  ~ScopedPrivilegesAdjust();

  ScopedPrivilegesAdjust(const ScopedPrivilegesAdjust&) = delete;
  ScopedPrivilegesAdjust& operator=(const ScopedPrivilegesAdjust&) = delete;

 private:
  void EndImpersonation() noexcept;

  // The thread's impersonation token from before, restored at the end.
  oxa::KernelHandle previousToken_;
};

}  // namespace qvr
