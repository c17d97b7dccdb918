#include "Custom_Actions/qvrinst/activation_sequences.h"

#include "log/log_sink.h"

namespace qvr {
namespace {

// A failure once K's resources are gone leaves N half activated. N is stored
// all the same, so that the rollback and a later deactivation find and undo
// what was done for it; nothing would record it otherwise.
bool FailWithTargetStored(ActivationSteps& steps, bool typeChanged, const std::wstring& target) {
  if (typeChanged) steps.WriteProductType(target);
  return false;
}

}  // namespace

bool RunActivateProduct(ActivationSteps& steps, LogSink* sink, const std::wstring& current, const std::wstring& target,
                        ActivationMode mode) {
  LogLine(sink, kLogInfo, L"ActivateProduct entry point");
  const bool typeChanged = !current.empty() && current != target;
  if (typeChanged) {
    // Without a new type the old one's removal is best effort.
    const bool mustSucceed = !target.empty();
    if (mustSucceed && !steps.DeactivateProfiles(current)) return false;
    if (!steps.DeactivateCurrentType() && mustSucceed) return false;
    if (!steps.WriteProductType(L"") && mustSucceed) return false;
  }
  if (target.empty()) return true;

  auto fail = [&] { return FailWithTargetStored(steps, typeChanged, target); };
  if (mode & kActivateRegistry) {
    if (!steps.ActivateRegistry(target) || !steps.ActivateEnvironment(target)) return fail();
  } else if (mode & kActivateEnvironmentOnly) {
    if (!steps.ActivateEnvironment(target)) return fail();
  }
  if (mode & kActivateShortcuts) {
    // A shortcut that cannot be copied does not fail the activation; its
    // lines say why.
    steps.ActivateStartMenu(target);
    steps.CreateDesktopShortcuts();
  }
  if ((mode & kActivatePlugins) && !steps.RegisterPlugins(target)) return fail();
  if ((mode & kActivateProtocolHandlers) && !steps.RegisterProtoHandlers()) return fail();
  if ((mode & kActivateProfiles) && !steps.ActivateProfiles(target)) return fail();
  return steps.WriteProductType(target);
}

bool RunSwitchProductType(ActivationSteps& steps, const std::wstring& current, const std::wstring& target) {
  if (!current.empty()) {
    steps.RemoveProductShortcuts();  // its result does not count
    if (!steps.UnregisterPlugins(current)) return false;
    if (!steps.DisableDrivers(current)) return false;
    if (!steps.DeactivateRegistry(current)) return false;
    steps.UnRegisterProtoHandlers();  // its result does not count
  }
  if (target.empty()) return true;
  // The steps after WriteProductType find N stored already.
  const bool typeChanged = !current.empty() && current != target;
  if (!steps.ActivateProfiles(target)) return FailWithTargetStored(steps, typeChanged, target);
  steps.ActivateStartMenu(target);  // their results do not count
  steps.CreateDesktopShortcuts();
  if (!steps.WriteProductType(target)) return false;
  if (!steps.RegisterPlugins(target)) return false;
  if (!steps.EnableDrivers(target)) return false;
  if (!steps.RegisterProtoHandlers()) return false;
  if (!steps.ActivateRegistry(target)) return false;
  return steps.ActivateEnvironment(target);
}

bool RunDeactivateCurrentType(ActivationSteps& steps, const std::wstring& current) {
  bool succeeded = steps.RemoveProductShortcuts();
  succeeded = steps.UnregisterPlugins(current) && succeeded;
  steps.UnRegisterProtoHandlers();  // its result does not count
  succeeded = steps.DeactivateRegistry(current) && succeeded;
  return succeeded;
}

}  // namespace qvr
