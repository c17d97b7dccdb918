#include "platform/user_hives/user_hive_walk.h"

#include "component/oxa/trace/failed_check.h"
#include "platform/user_hives/account_type.h"
#include "platform/util/privileges.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

// Visits a hive that this walk loaded, and unloads it whether the step ran or not.
void VisitLoadedHive(oxa::ITracer* tracer, const std::wstring& sid, const UserProfile& profile,
                     const UserHiveStep& step) {
  if (const LONG loaded = RegLoadKeyW(HKEY_USERS, sid.c_str(), profile.hiveFile.c_str()); loaded != ERROR_SUCCESS) {
    OXA_TRACE_TO(tracer, oxa::kTraceError)
        << "Profile hive " << sid << " load failed, err: " << oxa::TraceResult(oxa::ResultFromWin32Error(loaded));
    return;
  }
  {
    ScopedRegKey root;
    if (const LONG opened = root.Open(HKEY_USERS, sid.c_str(), KEY_READ); opened != ERROR_SUCCESS) {
      OXA_TRACE_TO(tracer, oxa::kTraceError)
          << "Profile root key " << sid << " open failed, err: " << oxa::TraceResult(oxa::ResultFromWin32Error(opened));
    } else {
      OXA_TRACE_TO(tracer, oxa::kTraceInfo) << "Use profile " << sid;
      step(root, sid, profile);
    }
  }
  RegUnLoadKeyW(HKEY_USERS, sid.c_str());
}

}  // namespace

void WalkUserHives(oxa::ITracer* tracer, AccountTypes& accounts, const UserHiveStep& step) {
  ProfileList profiles;
  if (const oxa::ResultCode code = GetProfilesList(tracer, accounts, profiles); OXA_FAILED(code)) {
    oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfilesList, "GetProfilesList(profiles)", code);
    return;
  }
  const ScopedPrivilegesAdjust privileges(tracer, {SE_BACKUP_NAME, SE_RESTORE_NAME});
  for (const auto& [sid, profile] : profiles) {
    ScopedRegKey root;
    if (root.Open(HKEY_USERS, sid.c_str(), KEY_READ) == ERROR_SUCCESS) {
      // The user is logged on: the hive stays as it is.
      OXA_TRACE_TO(tracer, oxa::kTraceInfo) << "Use already loaded profile " << sid;
      step(root, sid, profile);
      continue;
    }
    VisitLoadedHive(tracer, sid, profile, step);
  }
}

}  // namespace qvr
