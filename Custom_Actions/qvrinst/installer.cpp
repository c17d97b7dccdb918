#include "Custom_Actions/qvrinst/installer.h"

#include <new>

#include "Custom_Actions/qvrinst/exception_boundary.h"
#include "Custom_Actions/qvrinst/product_icons.h"
#include "Custom_Actions/qvrinst/product_keys.h"
#include "Custom_Actions/qvrinst/product_registry.h"
#include "activators/environment.h"
#include "log/log_sink.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {

// An exception caught at a slot goes to the object's sink.
class Installer::SinkReport final : public BoundaryReport {
 public:
  explicit SinkReport(Installer& installer) : installer_(installer) {}
  void Write(const wchar_t* operation, const char* description) override {
    LogLine(installer_.sink_, kLogError, L"%ls: unexpected exception: %hs", operation, description);
  }

 private:
  Installer& installer_;
};

Installer::Installer() = default;
Installer::~Installer() = default;

template <class Body>
bool Installer::AtEdge(const wchar_t* operation, Body&& body) noexcept {
  SinkReport report(*this);
  return RunAtEdge(operation, false, report, body);
}

template <class Body>
bool Installer::OnDeclarations(const wchar_t* operation, Body&& body) noexcept {
  return AtEdge(operation, [&] {
    if (HasKeyPaths()) return body();
    LogLine(sink_, kLogError, L"%ls: the product's registry keys are unknown (Initialize failed)", operation);
    return false;
  });
}

bool Installer::Initialize(LogSink* sink, const wchar_t* productType, ProfileStore* profileStore) {
  sink_ = sink;
  return AtEdge(L"Initialize", [&] {
    if (!InitCommonRegKeys(sink_, keys_)) return false;
    ReadProductType(sink_, keys_, currentProductType_);
    targetProductType_ = productType ? std::wstring(productType) : currentProductType_;
    profileStore_ = profileStore;
    if (!profiles_.Read(sink_, keys_[kProfilesKey]) || !ReadFeatures(sink_, keys_, features_)) return false;
    plugins_.Read(sink_, keys_[kSelfregsKey], keys_[kSelfunregsKey]);
    drivers_.Read(sink_, keys_[kDriversKey]);
    return protoHandlers_.ReadProtoHandlers(sink_, keys_[kProtoHandlersKey]) &&
           registryValues_.Read(sink_, keys_[kRegistryDeclarationsKey]);
  });
}

void Installer::Release() noexcept { delete this; }

bool Installer::SwitchProductType() {
  return OnDeclarations(L"SwitchProductType",
                        [&] { return RunSwitchProductType(*this, currentProductType_, targetProductType_); });
}

bool Installer::CheckForApplicationsToRemove(std::uint32_t filter, StringList** detected) {
  return OnDeclarations(L"CheckForApplicationsToRemove", [&] {
    return incompatibleSoftware_.CheckForApplicationsToRemove(CleanerInputs(), filter, detected);
  });
}

bool Installer::RemoveApplications(std::uint32_t, StringList** applications) {
  return OnDeclarations(L"RemoveApplications",
                        [&] { return incompatibleSoftware_.RemoveApplications(CleanerInputs(), applications); });
}

CleanerSetup Installer::CleanerInputs() const {
  return {sink_, keys_[kProductEnvironmentKey], features_, targetProductType_};
}

bool Installer::ActivateProduct(ActivationMode mode) {
  return OnDeclarations(L"ActivateProduct", [&] {
    return RunActivateProduct(*this, sink_, currentProductType_, targetProductType_, mode);
  });
}

bool Installer::ChangeProductIcons(const wchar_t* variant) {
  return OnDeclarations(L"ChangeProductIcons", [&] { return ChangeIcons(variant); });
}

bool Installer::ChangeIcons(const wchar_t* variant) {
  LogLine(sink_, kLogInfo, L"ChangeProductIcons entry point");
  ScopedRegKey environment;
  if (!CheckSuccess(sink_, environment.Open(HKEY_LOCAL_MACHINE, keys_[kProductEnvironmentKey].c_str(), KEY_READ),
                    L"ChangeProductIcons: can't open environment key: 0x%08x"))
    return false;
  std::wstring root;
  if (!CheckSuccess(sink_, environment.ReadString(L"ProductRoot", StringPolicy::kSzOnly, root),
                    L"ChangeProductIcons: can't query ProductRoot value: 0x%08x"))
    return false;
  if (root.empty()) {
    LogLine(sink_, kLogError, L"ChangeProductIcons: ProductRoot value is empty");
    return false;
  }
  std::wstring type;
  if (!ReadProductType(sink_, keys_, type)) {
    LogLine(sink_, kLogError, L"ChangeProductIcons: can't query productType value");
    return false;
  }
  if (type.empty()) {
    LogLine(sink_, kLogError, L"ChangeProductIcons: productType value is empty");
    return false;
  }
  std::wstring localization;
  if (!CheckSuccess(sink_, environment.ReadString(L"Localization", StringPolicy::kSzOnly, localization),
                    L"ChangeProductIcons: can't query localization value: 0x%08x"))
    return false;
  const std::wstring icon = ComputeIconPath(
      root, localization, variant, IsSmallOfficeType(type),
      [](const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; });
  ProductShortcuts shortcuts = Shortcuts();
  bool succeeded = true;
  // The desktop's shortcut is tried after a failure of the start menu's.
  if (!shortcuts.ChangeStartMenuMainShortcutIcon(icon)) {
    LogLine(sink_, kLogError, L"ChangeProductIcons: can't change value Start Menu shortcut icon.");
    succeeded = false;
  }
  if (!shortcuts.ChangeDesktopMainShortcutIcon(icon)) {
    LogLine(sink_, kLogError, L"ChangeProductIcons: can't change value Desktop shortcut icon.");
    succeeded = false;
  }
  return succeeded;
}

bool Installer::RemoveProductShortcuts() {
  return OnDeclarations(L"RemoveProductShortcuts", [&] {
    // Small-office versions up to 6.2 made no toast shortcuts.
    return Shortcuts().RemoveProductShortcuts(!IsSmallOfficeVersion(keys_));
  });
}

bool Installer::ActivateStartMenu(const std::wstring& type) { return Shortcuts().ActivateStartMenu(type); }

bool Installer::CreateDesktopShortcuts() { return Shortcuts().CreateDesktopShortcuts(); }

ProductShortcuts Installer::Shortcuts() const { return ProductShortcuts({sink_, keys_, features_}); }

bool Installer::DeactivateCurrentType() {
  return OnDeclarations(L"DeactivateCurrentType", [&] { return RunDeactivateCurrentType(*this, currentProductType_); });
}

bool Installer::WriteProductType(const std::wstring& type) { return qvr::WriteProductType(sink_, keys_, type); }

bool Installer::ActivateEnvironment(const std::wstring& type) {
  return EnvironmentValues::Apply(sink_, keys_[kProductEnvironmentKey], keys_[kInstallerEnvironmentKey],
                                  EnvironmentValues::Plan(type), type);
}

bool Installer::ActivateProfiles(const std::wstring& type) {
  return profiles_.Apply(sink_, profileStore_, TaskProfiles::PlanActivation(profiles_.Table(), features_, type),
                         L"ActivateProfiles: profile %ls requested by feature %ls");
}

bool Installer::DeactivateProfiles(const std::wstring& type) {
  return profiles_.Apply(sink_, profileStore_, TaskProfiles::PlanDeactivation(profiles_.Table(), features_, type),
                         L"DeactivateProfiles: profile %ls requested by feature %ls");
}

// A plugin that fails to register does not stop the activation.
bool Installer::RegisterPlugins(const std::wstring& type) {
  plugins_.Apply(sink_, serviceLocator_,
                 PluginRegistrations::Plan(plugins_.Commands(PluginDirection::kRegister), features_, type,
                                           PluginDirection::kRegister),
                 PluginDirection::kRegister);
  return true;
}

bool Installer::UnregisterPlugins(const std::wstring& type) {
  plugins_.Apply(sink_, serviceLocator_,
                 PluginRegistrations::Plan(plugins_.Commands(PluginDirection::kUnregister), features_, type,
                                           PluginDirection::kUnregister),
                 PluginDirection::kUnregister);
  return true;
}

// A driver that fails is a line; the sequence goes on.
bool Installer::EnableDrivers(const std::wstring& type) {
  drivers_.Enable(sink_, DriverServices::Plan(drivers_.Table(), features_, type), !IsSmallOfficeVersion(keys_));
  return true;
}

bool Installer::DisableDrivers(const std::wstring& type) {
  drivers_.Disable(sink_, DriverServices::Plan(drivers_.Table(), features_, type), !IsSmallOfficeVersion(keys_));
  return true;
}

bool Installer::ActivateRegistry(const std::wstring& type) {
  return registryValues_.Apply(sink_, RegistryValues::PlanActivation(registryValues_.Table(), features_, type),
                               L"ActivateRegistry: registry value %ls requested by feature %ls");
}

bool Installer::DeactivateRegistry(const std::wstring& type) {
  return registryValues_.Apply(sink_, RegistryValues::PlanDeactivation(registryValues_.Table(), features_, type),
                               L"DeactivateRegistry: registry value %ls requested by feature %ls");
}

bool Installer::RegisterProtoHandlers() { return protoHandlers_.RegisterProtoHandlers(sink_); }

bool Installer::UnRegisterProtoHandlers() { return protoHandlers_.UnRegisterProtoHandlers(sink_); }

std::int32_t CreateVersionedInstaller(std::uint32_t version, VersionedInstaller** out) noexcept {
  constexpr std::int32_t kBadArguments = 160;
  constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
  constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
  if (!out) return kBadArguments;
  *out = nullptr;
  if (version < 1 || version > 3) return kNoInterface;
  // No exception may cross into the host.
  auto* installer = new (std::nothrow) Installer();
  if (!installer) return kOutOfMemory;
  *out = installer;
  return 0;
}

}  // namespace qvr
