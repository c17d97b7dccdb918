// The pure side of the task profiles: which profiles an activation or a
// deactivation marks.
#include "activators/profiles.h"

#include <algorithm>

namespace qvr {
namespace {

ProfilePlan Plan(const ProfileTable& profiles, const FeatureMap& features, const std::wstring& type, bool activation) {
  ProfilePlan plan{RequestsFor(features, type, &FeatureRecord::profiles, profiles), profiles};
  if (activation)
    for (auto& [name, profile] : plan.profiles) profile.requested = false;
  for (const Request& request : plan.requests) {
    ProfileRecord& profile = plan.profiles.at(request.declaration);
    profile.requested = activation;
    if (!activation) continue;
    const StringVector& disabledTypes = features.at(request.feature).disabledProductTypes;
    profile.disabled = std::find(disabledTypes.begin(), disabledTypes.end(), type) != disabledTypes.end();
  }
  return plan;
}

}  // namespace

ProfilePlan TaskProfiles::PlanActivation(const ProfileTable& profiles, const FeatureMap& features,
                                         const std::wstring& type) {
  return Plan(profiles, features, type, true);
}

ProfilePlan TaskProfiles::PlanDeactivation(const ProfileTable& profiles, const FeatureMap& features,
                                           const std::wstring& type) {
  return Plan(profiles, features, type, false);
}

}  // namespace qvr
