// The user-hive walk: the registry root of every user profile of the
// machine in turn, each hive of a user who is not logged on loaded for the
// length of its step.
#pragma once

#include <functional>
#include <string>

#include "component/oxa/trace/tracer.h"
#include "platform/user_hives/profile_list.h"

namespace qvr {

class AccountTypes;
class ScopedRegKey;

// Called with HKEY_USERS\<sid> opened for reading. A key it opens below the
// root must be closed before it returns: an open key keeps a loaded hive
// from being unloaded.
using UserHiveStep = std::function<void(const ScopedRegKey& root, const std::wstring& sid, const UserProfile& profile)>;

// Lists the profiles (GetProfilesList; when that fails, its record for the
// walk and nothing else), then, with SeBackupPrivilege and SeRestorePrivilege
// enabled for the calling thread, hands each profile's root to `step`: a
// hive already loaded in place ("Use already loaded profile <sid>"), any
// other loaded from the profile's ntuser.dat and unloaded after the step.
// Failures are traced on `tracer` and skip only that profile. Throws
// oxa::CheckResultFailedException when the privileges cannot be adjusted,
// before any hive is loaded.
void WalkUserHives(oxa::ITracer* tracer, AccountTypes& accounts, const UserHiveStep& step);

}  // namespace qvr
