// The pure side of the plugin self-registration: which command lines run.
#include "activators/plugins.h"

namespace qvr {

Requests PluginRegistrations::Plan(const PluginCommandTable& commands, const FeatureMap& features,
                                   const std::wstring& type, PluginDirection direction) {
  return RequestsFor(features, type,
                     direction == PluginDirection::kRegister ? &FeatureRecord::selfregs : &FeatureRecord::selfUnregs,
                     commands);
}

}  // namespace qvr
