#include "platform/user_hives/user_hive_walk.h"

#include "component/oxa/trace/failed_check.h"
#include "platform/user_hives/account_type.h"
#include "platform/util/privileges.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

// A hive this walk loaded, unloaded when the visit ends, whatever way it ends.
class LoadedUserHive {
 public:
  explicit LoadedUserHive(const std::wstring& sid) : sid_(sid) {}
  ~LoadedUserHive() { RegUnLoadKeyW(HKEY_USERS, sid_.c_str()); }
  LoadedUserHive(const LoadedUserHive&) = delete;
  LoadedUserHive& operator=(const LoadedUserHive&) = delete;

 private:
  const std::wstring& sid_;
};

// Loads the hive of a user who is not logged on for the step.
void VisitLoadedHive(oxa::ITracer* tracer, const std::wstring& sid, const UserProfile& profile,
                     const UserHiveStep& step) {
  if (const LONG loaded = RegLoadKeyW(HKEY_USERS, sid.c_str(), profile.hiveFile.c_str()); loaded != ERROR_SUCCESS) {
    OXA_TRACE_TO(tracer, oxa::kTraceError)
        << "Profile hive " << sid << " load failed, err: " << oxa::TraceResult(oxa::ResultFromWin32Error(loaded));
    return;
  }
  const LoadedUserHive hive(sid);
  ScopedRegKey root;  // closed before the hive is unloaded
  if (const LONG opened = root.Open(HKEY_USERS, sid.c_str(), KEY_READ); opened != ERROR_SUCCESS) {
    OXA_TRACE_TO(tracer, oxa::kTraceError)
        << "Profile root key " << sid << " open failed, err: " << oxa::TraceResult(oxa::ResultFromWin32Error(opened));
    return;
  }
  OXA_TRACE_TO(tracer, oxa::kTraceInfo) << "Use profile " << sid;
  step(root, sid, profile);
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
