// The pure side of the registry flags: which flags an activation sets.
#include "activators/registry_values.h"

namespace qvr {

RegistryValuePlan RegistryValues::PlanActivation(const RegistryValueTable& values, const FeatureMap& features,
                                                   const std::wstring& type) {
  RegistryValuePlan plan{RequestsFor(features, type, &FeatureRecord::registry, values), values};
  for (auto& [name, value] : plan.values) value.installed = false;
  for (const Request& request : plan.requests) plan.values.at(request.declaration).installed = true;
  return plan;
}

RegistryValuePlan RegistryValues::PlanDeactivation(const RegistryValueTable& values, const FeatureMap& features,
                                                   const std::wstring& type) {
  RegistryValuePlan plan{RequestsFor(features, type, &FeatureRecord::registry, values), values};
  for (const Request& request : plan.requests) plan.values.at(request.declaration).installed = false;
  return plan;
}

}  // namespace qvr
