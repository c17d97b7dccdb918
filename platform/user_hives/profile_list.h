// The profiles of the machine's users, from the ProfileList key.
#pragma once

#include <string>
#include <unordered_map>

#include "component/oxa/result_code.h"
#include "component/oxa/trace/tracer.h"

namespace qvr {

class AccountTypes;

struct UserProfile {
  std::wstring folder;    // ProfileImagePath, environment references expanded
  std::wstring hiveFile;  // the folder's ntuser.dat
};

// By the security identifier in string form (the ProfileList subkey's name).
using ProfileList = std::unordered_map<std::wstring, UserProfile>;

// GetProfilesList: every profile of a user account (as `accounts` tells)
// whose folder can be read. A profile that cannot be read, or whose account
// type is unknown, is left out with its failed-check record on `tracer`;
// one of another account type with "Skip not user profile <sid>". Fails
// with its record when the ProfileList key cannot be opened, and with the
// error when its subkeys cannot be listed.
oxa::ResultCode GetProfilesList(oxa::ITracer* tracer, AccountTypes& accounts, ProfileList& profiles);

}  // namespace qvr
