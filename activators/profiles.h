// Task profiles of the product's features: the profile declarations (name to
// path in the profile store) and the state of each profile as the activation
// decides it. The reader and the activators are members of the installer
// object (installer.h); this file holds their record.
#pragma once

#include <map>
#include <string>

namespace qvr {

struct ProfileRecord {
  std::wstring path;       // the profile's node in the profile store
  bool requested = false;  // marked installed
  bool disabled = false;   // switched off ("def"/"enabled" = 0)
};

// Profile name to its record.
using ProfileTable = std::map<std::wstring, ProfileRecord>;

}  // namespace qvr
