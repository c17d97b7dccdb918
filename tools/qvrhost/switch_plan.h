// qvrhost plan: what a switch to a product type would change, step by step
// in the order of the module's own switch sequence, from the tables its
// readers made. Writes nothing.
#pragma once

#include <string>
#include <vector>

#include "Custom_Actions/qvrinst/activation_sequences.h"
#include "Custom_Actions/qvrinst/installer.h"

namespace qvrhost {

class SwitchPlan final : private qvr::ActivationSteps {
 public:
  // `installer` has been initialized; it must outlive the plan.
  explicit SwitchPlan(const qvr::Installer& installer);

  // One line per change of the switch from the stored type to the target
  // type, each behind the name of its step.
  std::vector<std::wstring> Lines();

 private:
  bool WriteProductType(const std::wstring& type) override;
  bool ActivateEnvironment(const std::wstring& type) override;
  bool DeactivateCurrentType() override;
  bool ActivateProfiles(const std::wstring& type) override;
  bool DeactivateProfiles(const std::wstring& type) override;
  bool RegisterPlugins(const std::wstring& type) override;
  bool UnregisterPlugins(const std::wstring& type) override;
  bool EnableDrivers(const std::wstring& type) override;
  bool DisableDrivers(const std::wstring& type) override;
  bool ActivateRegistry(const std::wstring& type) override;
  bool DeactivateRegistry(const std::wstring& type) override;
  bool RegisterProtoHandlers() override;
  bool UnRegisterProtoHandlers() override;
  bool ActivateStartMenu(const std::wstring& type) override;
  bool CreateDesktopShortcuts() override;
  bool RemoveProductShortcuts() override;

  void Add(const wchar_t* step, const std::wstring& change);
  bool Profiles(const wchar_t* step, const qvr::ProfilePlan& plan);
  bool Registry(const wchar_t* step, const qvr::RegistryValuePlan& plan);
  void Plugins(const wchar_t* step, qvr::PluginDirection direction, const std::wstring& type);
  void Drivers(const wchar_t* step, bool enable, const std::wstring& type);

  const qvr::Installer& installer_;
  // The states the steps leave, as the module's kinds keep them from one
  // step to the next.
  qvr::ProfileTable profiles_;
  qvr::RegistryValueTable registry_;
  std::vector<std::wstring> lines_;
};

}  // namespace qvrhost
