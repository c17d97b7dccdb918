#include "platform/util/privileges.h"

#include "component/oxa/exception/exception.h"

namespace qvr {

oxa::ResultCode EnablePrivilege(HANDLE token, const wchar_t* name) {
  LUID luid;
  if (LookupPrivilegeValueW(nullptr, name, &luid)) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A successful call sets ERROR_SUCCESS or ERROR_NOT_ALL_ASSIGNED; clearing
    // first keeps an older error from leaking into the result.
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
  }
  return oxa::ResultFromWin32Error(GetLastError());
}

ScopedPrivilegesAdjust::ScopedPrivilegesAdjust(oxa::ITracer* tracer, std::span<const wchar_t* const> privileges) {
  const oxa::TracerRef trace = oxa::CreatePrefixedTracer(tracer, "[priv_adjust]");
  if (oxa::TraceRecord record(trace.get(), oxa::kTraceInfo); record) {
    record << "Adjust privileges [";
    for (const wchar_t* name : privileges) record << name << ",";
    record << "]" << ", attr: " << static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
  }

  // Without an impersonation of its own, the thread has no token to open.
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, previousToken_.Receive())) {
    previousToken_.Reset();
  }
  if (!ImpersonateSelf(SecurityImpersonation)) {
    oxa::ThrowCheckResultFailed(oxa::ResultFromWin32Error(GetLastError()), __FILE__, __LINE__,
                                L"ScopedPrivilegesAdjust impersonation failed");
  }
  oxa::KernelHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token.Receive())) {
    const oxa::ResultCode code = oxa::ResultFromWin32Error(GetLastError());
    // No destructor will run for a throwing constructor.
    EndImpersonation();
    oxa::ThrowCheckResultFailed(code, __FILE__, __LINE__, L"Open thread token failed");
  }

  for (const wchar_t* name : privileges) {
    const oxa::ResultCode code = EnablePrivilege(token.Get(), name);
    if (OXA_FAILED(code)) {
      OXA_TRACE_TO(trace.get(), oxa::kTraceError)
          << "Failed to enable privilege: " << name << ", err: " << oxa::TraceResultWithText(code);
    }
  }
}

ScopedPrivilegesAdjust::~ScopedPrivilegesAdjust() { EndImpersonation(); }

void ScopedPrivilegesAdjust::EndImpersonation() noexcept {
  // Failures are ignored: there is nothing better to fall back to than
  // ending the impersonation.
  if (!previousToken_ || !SetThreadToken(nullptr, previousToken_.Get())) RevertToSelf();
}

}  // namespace qvr
