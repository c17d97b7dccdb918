// The pure side of the registry flags: which flags an activation or a
// deactivation sets.
#include "activators/registry_values.h"

namespace qvr {
namespace {

RegistryValuePlan Plan(const RegistryValueTable& values, const FeatureMap& features, const std::wstring& type,
                       bool activation) {
  RegistryValuePlan plan{RequestsFor(features, type, &FeatureRecord::registry, values), values};
  if (activation)
    for (auto& [name, value] : plan.values) value.installed = false;
  for (const Request& request : plan.requests) plan.values.at(request.declaration).installed = activation;
  return plan;
}

}  // namespace

RegistryValuePlan RegistryValues::PlanActivation(const RegistryValueTable& values, const FeatureMap& features,
                                                 const std::wstring& type) {
  return Plan(values, features, type, true);
}

RegistryValuePlan RegistryValues::PlanDeactivation(const RegistryValueTable& values, const FeatureMap& features,
                                                   const std::wstring& type) {
  return Plan(values, features, type, false);
}

}  // namespace qvr
