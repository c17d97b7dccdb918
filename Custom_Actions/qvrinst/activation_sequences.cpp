#include "Custom_Actions/qvrinst/activation_sequences.h"

#include "Custom_Actions/qvrinst/log_sink.h"

namespace qvr {

bool RunActivateProduct(ActivationSteps& steps, LogSink* sink, const std::wstring& current,
                        const std::wstring& target, ActivationMode mode) {
  LogLine(sink, kLogInfo, L"ActivateProduct entry point");
  if (!current.empty() && current != target) {
    // Without a new type the old one's removal is best effort.
    const bool mustSucceed = !target.empty();
    if (mustSucceed && !steps.DeactivateProfiles(current)) return false;
    if (!steps.DeactivateCurrentType() && mustSucceed) return false;
    if (!steps.WriteProductType(L"") && mustSucceed) return false;
  }
  if (target.empty()) return true;

  if (mode & kActivateRegistry) {
    if (!steps.ActivateRegistry(target) || !steps.ActivateEnvironment(target)) return false;
  } else if (mode & kActivateEnvironmentOnly) {
    if (!steps.ActivateEnvironment(target)) return false;
  }
  if ((mode & kActivatePlugins) && !steps.RegisterPlugins(target)) return false;
  if ((mode & kActivateProtocolHandlers) && !steps.RegisterProtoHandlers()) return false;
  if ((mode & kActivateProfiles) && !steps.ActivateProfiles(target)) return false;
  return steps.WriteProductType(target);
}

bool RunSwitchProductType(ActivationSteps& steps, const std::wstring& current, const std::wstring& target) {
  if (!current.empty()) {
    if (!steps.UnregisterPlugins(current)) return false;
    if (!steps.DeactivateRegistry(current)) return false;
    steps.UnRegisterProtoHandlers();  // its result does not count
  }
  if (target.empty()) return true;
  if (!steps.ActivateProfiles(target)) return false;
  if (!steps.WriteProductType(target)) return false;
  if (!steps.RegisterPlugins(target)) return false;
  if (!steps.RegisterProtoHandlers()) return false;
  if (!steps.ActivateRegistry(target)) return false;
  return steps.ActivateEnvironment(target);
}

bool RunDeactivateCurrentType(ActivationSteps& steps, const std::wstring& current) {
  bool succeeded = true;
  succeeded = steps.UnregisterPlugins(current) && succeeded;
  steps.UnRegisterProtoHandlers();  // its result does not count
  succeeded = steps.DeactivateRegistry(current) && succeeded;
  return succeeded;
}

}  // namespace qvr
