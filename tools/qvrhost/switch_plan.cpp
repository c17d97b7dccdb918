#include "tools/qvrhost/switch_plan.h"

#include "activators/environment.h"
#include "tools/qvrhost/declaration_snapshot.h"

namespace qvrhost {
namespace {

constexpr std::uint32_t kDisabledStart = 4;

std::wstring Hive(const std::wstring& root) {
  return root == L"HKCR" || root == L"HKCU" || root == L"HKU" ? root : L"HKLM";
}

std::wstring ByFeature(const std::wstring& feature) { return L" (feature " + feature + L")"; }

}  // namespace

SwitchPlan::SwitchPlan(const qvr::Installer& installer)
    : installer_(installer), profiles_(installer.Profiles().Table()), registry_(installer.Registry().Table()) {}

std::vector<std::wstring> SwitchPlan::Lines() {
  lines_.clear();
  const std::wstring& current = installer_.CurrentProductType();
  const std::wstring& target = installer_.TargetProductType();
  lines_.push_back(L"SwitchProductType from '" + current + L"' to '" + target + L"'");
  if (!qvr::RunSwitchProductType(*this, current, target)) lines_.push_back(L"SwitchProductType stops here and fails");
  return lines_;
}

void SwitchPlan::Add(const wchar_t* step, const std::wstring& change) {
  lines_.push_back(std::wstring(step) + L": " + change);
}

bool SwitchPlan::WriteProductType(const std::wstring& type) {
  Add(L"WriteProductType", type.empty() ? L"ProductType removed" : L"ProductType = " + type);
  return true;
}

bool SwitchPlan::ActivateEnvironment(const std::wstring& type) {
  const std::wstring declarations = qvr::EnvironmentValues::Plan(type);
  const std::wstring path = installer_.Keys()[qvr::kInstallerEnvironmentKey] + L"\\" + declarations;
  const StoredKey values = ReadStoredKey(path);
  if (!values.present) {
    Add(L"ActivateEnvironment", L"Installer\\environment\\" + declarations + L" is missing");
    return false;
  }
  for (const StoredValue& value : values.values) {
    // The step copies strings only and stops at the first other value.
    if (value.type != kRegSz) {
      Add(L"ActivateEnvironment", L"Installer\\environment\\" + declarations + L"\\" + value.name + L" is not REG_SZ");
      return false;
    }
    Add(L"ActivateEnvironment", L"environment\\" + value.name + L" = " + value.text);
  }
  return true;
}

bool SwitchPlan::DeactivateCurrentType() {
  return qvr::RunDeactivateCurrentType(*this, installer_.CurrentProductType());
}

bool SwitchPlan::Profiles(const wchar_t* step, const qvr::ProfilePlan& plan) {
  for (const qvr::Request& request : plan.requests)
    Add(step, L"profile " + request.declaration + L" requested" + ByFeature(request.feature));
  profiles_ = plan.profiles;
  for (const auto& [name, profile] : profiles_)
    Add(step, L"profile " + name + L" (" + profile.path + L"): " +
                  (profile.requested ? L"installed" : L"not installed") + (profile.disabled ? L", disabled" : L""));
  return true;
}

bool SwitchPlan::ActivateProfiles(const std::wstring& type) {
  return Profiles(L"ActivateProfiles", qvr::TaskProfiles::PlanActivation(profiles_, installer_.Features(), type));
}

bool SwitchPlan::DeactivateProfiles(const std::wstring& type) {
  return Profiles(L"DeactivateProfiles", qvr::TaskProfiles::PlanDeactivation(profiles_, installer_.Features(), type));
}

void SwitchPlan::Plugins(const wchar_t* step, qvr::PluginDirection direction, const std::wstring& type) {
  const qvr::PluginCommandTable& commands = installer_.Plugins().Commands(direction);
  for (const qvr::Request& request : qvr::PluginRegistrations::Plan(commands, installer_.Features(), type, direction))
    Add(step, L"run " + commands.at(request.declaration) + ByFeature(request.feature));
}

bool SwitchPlan::RegisterPlugins(const std::wstring& type) {
  Plugins(L"RegisterPlugins", qvr::PluginDirection::kRegister, type);
  return true;
}

bool SwitchPlan::UnregisterPlugins(const std::wstring& type) {
  Plugins(L"UnregisterPlugins", qvr::PluginDirection::kUnregister, type);
  return true;
}

void SwitchPlan::Drivers(const wchar_t* step, bool enable, const std::wstring& type) {
  const qvr::DriverTable& drivers = installer_.Drivers().Table();
  for (const qvr::Request& request : qvr::DriverServices::Plan(drivers, installer_.Features(), type)) {
    const std::uint32_t start = enable ? drivers.at(request.declaration) : kDisabledStart;
    Add(step, L"driver " + request.declaration + L" start type " + std::to_wstring(start) +
                  (enable ? L", started" : L" (disabled)") + ByFeature(request.feature));
  }
}

bool SwitchPlan::EnableDrivers(const std::wstring& type) {
  Drivers(L"EnableDrivers", true, type);
  return true;
}

bool SwitchPlan::DisableDrivers(const std::wstring& type) {
  Drivers(L"DisableDrivers", false, type);
  return true;
}

bool SwitchPlan::Registry(const wchar_t* step, const qvr::RegistryValuePlan& plan) {
  for (const qvr::Request& request : plan.requests)
    Add(step, L"registry value " + request.declaration + L" requested" + ByFeature(request.feature));
  registry_ = plan.values;
  for (const auto& [name, value] : registry_)
    Add(step, Hive(value.root) + L"\\" + value.key + L" [" + value.name + L"] = " + (value.installed ? L"1" : L"0"));
  return true;
}

bool SwitchPlan::ActivateRegistry(const std::wstring& type) {
  return Registry(L"ActivateRegistry", qvr::RegistryValues::PlanActivation(registry_, installer_.Features(), type));
}

bool SwitchPlan::DeactivateRegistry(const std::wstring& type) {
  return Registry(L"DeactivateRegistry", qvr::RegistryValues::PlanDeactivation(registry_, installer_.Features(), type));
}

bool SwitchPlan::RegisterProtoHandlers() {
  for (const auto& [scheme, record] : installer_.ProtoHandlers().ProtoHandlers())
    Add(L"RegisterProtoHandlers", L"HKCR\\" + scheme + L" = " + record.descr + L", command " + record.command);
  return true;
}

bool SwitchPlan::UnRegisterProtoHandlers() {
  for (const auto& [scheme, record] : installer_.ProtoHandlers().ProtoHandlers())
    Add(L"UnRegisterProtoHandlers", L"HKCR\\" + scheme + L" deleted");
  return true;
}

bool SwitchPlan::ActivateStartMenu(const std::wstring&) {
  Add(L"ActivateStartMenu", L"the main shortcut copied to the all-users programs folder");
  return true;
}

bool SwitchPlan::CreateDesktopShortcuts() {
  Add(L"CreateDesktopShortcuts", L"the main (and secure-banking) shortcut copied to the all-users desktop");
  return true;
}

bool SwitchPlan::RemoveProductShortcuts() {
  Add(L"RemoveProductShortcuts", L"the product's shortcuts deleted from the all-users folders, with the users' toasts");
  return true;
}

}  // namespace qvrhost
