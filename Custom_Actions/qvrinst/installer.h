// The installer object behind the VersionedInstaller interface: the product's
// key paths, its features and stored product type, and one object per kind
// of resource, composed into the operations that the activation sequences
// call.
#pragma once

#include <cstdint>
#include <string>

#include "Custom_Actions/qvrinst/activation_sequences.h"
#include "Custom_Actions/qvrinst/feature_model.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "activators/drivers.h"
#include "activators/incompatible_software.h"
#include "activators/plugins.h"
#include "activators/profiles.h"
#include "activators/proto_handler_registrar.h"
#include "activators/registry_values.h"
#include "activators/shortcuts.h"
#include "platform/product_info/common_reg_keys.h"

namespace qvr {

class Installer final : public VersionedInstaller, private ActivationSteps {
 public:
  Installer();
  ~Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // The interface's slots: none lets an exception out (one that is thrown is
  // reported at level 3 and answered with false), and those that act on the
  // declarations refuse to run without the product's key paths.
  bool Initialize(LogSink* sink, const wchar_t* productType, ProfileStore* profileStore) override;
  void Release() noexcept override;
  bool SwitchProductType() override;
  bool CheckForApplicationsToRemove(std::uint32_t filter, StringList** detected) override;
  bool RemoveApplications(std::uint32_t unused, StringList** applications) override;
  bool ActivateProduct(ActivationMode mode) override;
  bool ChangeProductIcons(const wchar_t* variant) override;
  bool AlwaysSucceeds() noexcept override { return true; }
  // These two are also steps of the sequences.
  bool RemoveProductShortcuts() override;
  bool DeactivateCurrentType() override;
  void SetServiceLocator(ServiceLocator* serviceLocator) noexcept override { serviceLocator_ = serviceLocator; }

  // The operations, which are the steps of the activation sequences: each
  // one resource kind's plan and its application.
  bool WriteProductType(const std::wstring& type) override;
  bool ActivateEnvironment(const std::wstring& type) override;
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

  // The sink that Initialize was given (null before).
  LogSink* GetLogSink() const { return sink_; }
  // Whether Initialize computed the product's registry key paths.
  bool HasKeyPaths() const { return !keys_[kProductKey].empty(); }
  const std::wstring& CurrentProductType() const { return currentProductType_; }
  const std::wstring& TargetProductType() const { return targetProductType_; }
  const FeatureMap& Features() const { return features_; }
  const TaskProfiles& Profiles() const { return profiles_; }
  const RegistryValues& Registry() const { return registryValues_; }
  const PluginRegistrations& Plugins() const { return plugins_; }
  const DriverServices& Drivers() const { return drivers_; }
  const ProtoHandlerRegistrar& ProtoHandlers() const { return protoHandlers_; }
  const CommonRegKeys& Keys() const { return keys_; }

 private:
  class SinkReport;
  // A slot's body run at the module's edge.
  template <class Body>
  bool AtEdge(const wchar_t* operation, Body&& body) noexcept;
  // The same for a slot that reads or writes declarations: refused with a
  // level-3 line when the key paths are unknown, since empty paths would
  // name the root of the hive.
  template <class Body>
  bool OnDeclarations(const wchar_t* operation, Body&& body) noexcept;
  CleanerSetup CleanerInputs() const;
  ProductShortcuts Shortcuts() const;
  // ChangeProductIcons once the key paths are known.
  bool ChangeIcons(const wchar_t* variant);

  LogSink* sink_ = nullptr;                   // not owned
  ServiceLocator* serviceLocator_ = nullptr;  // not owned
  ProfileStore* profileStore_ = nullptr;      // not owned
  CommonRegKeys keys_;
  std::wstring currentProductType_;
  std::wstring targetProductType_;
  FeatureMap features_;
  TaskProfiles profiles_;
  RegistryValues registryValues_;
  PluginRegistrations plugins_;
  DriverServices drivers_;
  ProtoHandlerRegistrar protoHandlers_;
  IncompatibleSoftware incompatibleSoftware_;  // its scratch folder goes with the object
};

// The factory behind GetVersionedQVRInstaller: 160 for a null out pointer,
// 0x80004002 for an unknown version.
// Nothing in it can throw: it allocates without throwing.
std::int32_t CreateVersionedInstaller(std::uint32_t version, VersionedInstaller** out) noexcept;

}  // namespace qvr
