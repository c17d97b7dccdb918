// Task profiles of the product's features: the profile declarations (name to
// path in the profile store), the pure plan of which profiles an activation
// or deactivation marks, and the state of every profile written into the
// profile store.
#pragma once

#include <map>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvr {

class LogSink;
struct ProfileStore;

struct ProfileRecord {
  std::wstring path;       // the profile's node in the profile store
  bool requested = false;  // marked installed
  bool disabled = false;   // switched off ("def"/"enabled" = 0)
  bool operator==(const ProfileRecord&) const = default;
};

// Profile name to its record.
using ProfileTable = std::map<std::wstring, ProfileRecord>;

// What an activation or deactivation sets: the namings (one line each) and
// every profile's state after it.
struct ProfilePlan {
  Requests requests;
  ProfileTable profiles;
};

class TaskProfiles {
 public:
  // ReadProfiles: fills the table from the values of `keyPath`. False at the
  // first declaration that cannot be read or is empty.
  bool Read(LogSink* sink, const std::wstring& keyPath);

  // ActivateProfiles: every profile unmarked, then those named by the
  // features qualifying for `type` marked, switched off where the last
  // feature naming them lists `type` as disabled.
  static ProfilePlan PlanActivation(const ProfileTable& profiles, const FeatureMap& features, const std::wstring& type);
  // DeactivateProfiles: the profiles named by the qualifying features
  // unmarked, the others as they are.
  static ProfilePlan PlanDeactivation(const ProfileTable& profiles, const FeatureMap& features,
                                      const std::wstring& type);

  // Writes `requestedLine` (declaration, feature) for each naming, takes the
  // plan's states and writes every profile.
  bool Apply(LogSink* sink, ProfileStore* store, const ProfilePlan& plan, const wchar_t* requestedLine);
  // WriteProfiles: the state of every profile into `store`, stopping at the
  // first failure, a path without a form in the current character set
  // included.
  bool Write(LogSink* sink, ProfileStore* store) const;

  const ProfileTable& Table() const { return profiles_; }

 private:
  ProfileTable profiles_;
};

}  // namespace qvr
