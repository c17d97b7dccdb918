// The pure side of the task profiles: which profiles an activation marks.
#include "activators/profiles.h"

#include <algorithm>

namespace qvr {

ProfilePlan TaskProfiles::PlanActivation(const ProfileTable& profiles, const FeatureMap& features,
                                         const std::wstring& type) {
  ProfilePlan plan{RequestsFor(features, type, &FeatureRecord::profiles, profiles), profiles};
  for (auto& [name, profile] : plan.profiles) profile.requested = false;
  for (const Request& request : plan.requests) {
    const StringVector& disabledTypes = features.at(request.feature).disabledProductTypes;
    ProfileRecord& profile = plan.profiles.at(request.declaration);
    profile.requested = true;
    profile.disabled = std::find(disabledTypes.begin(), disabledTypes.end(), type) != disabledTypes.end();
  }
  return plan;
}

ProfilePlan TaskProfiles::PlanDeactivation(const ProfileTable& profiles, const FeatureMap& features,
                                           const std::wstring& type) {
  ProfilePlan plan{RequestsFor(features, type, &FeatureRecord::profiles, profiles), profiles};
  for (const Request& request : plan.requests) plan.profiles.at(request.declaration).requested = false;
  return plan;
}

}  // namespace qvr
