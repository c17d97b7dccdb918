// The installer object: the declarations read from the registry and every
// operation of the module behind the VersionedInstaller interface.
#pragma once

#include "Custom_Actions/qvrinst/activation_sequences.h"
#include "Custom_Actions/qvrinst/feature_model.h"
#include "Custom_Actions/qvrinst/log_sink_provider.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "activators/plugins.h"
#include "activators/process_launcher.h"
#include "activators/profiles.h"
#include "activators/proto_handler_registrar.h"
#include "activators/registry_values.h"

#include <cstdint>
#include <map>
#include <string>

namespace qvr {

class Installer final : public LogSinkProvider, public ProtoHandlerRegistrar, public VersionedInstaller {
 public:
  Installer();
  ~Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  LogSink* GetLogSink() override { return LogSinkProvider::GetLogSink(); }

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
  bool RemoveProductShortcuts() override;
  bool DeactivateCurrentType() override;
  void SetServiceLocator(ServiceLocator* serviceLocator) noexcept override { serviceLocator_ = serviceLocator; }

  // Whether Initialize computed the product's registry key paths.
  bool HasKeyPaths() const { return !commonRegKeys_[kProductKey].empty(); }

  const std::wstring& CurrentProductType() const { return currentProductType_; }
  const std::wstring& TargetProductType() const { return targetProductType_; }
  const std::map<std::wstring, FeatureRecord>& Features() const { return features_; }

  // The product type stored in the product environment key.
  bool ReadProductType(std::wstring& productType);
  // Stores `productType`, or removes the stored one when it is empty.
  bool WriteProductType(const std::wstring& productType);
  // Fills the feature table from the features key.
  bool ReadFeatures();
  // Copies the environment values declared for `type` into the product
  // environment key.
  bool ActivateEnvironment(const std::wstring& type);
  // Whether the small-office version in the data key ("inmobver") is at most
  // 6.2; true when the data key cannot be opened.
  bool IsSmallOfficeVersion();

  // Fills the profile table from the profiles key.
  bool ReadProfiles();
  // Marks the profiles named by the features qualifying for `productType`
  // (switched off where the last of them lists the type as disabled),
  // unmarks all others, and writes every profile.
  bool ActivateProfiles(const std::wstring& productType);
  // Unmarks the profiles named by the features qualifying for `productType`
  // and writes every profile.
  bool DeactivateProfiles(const std::wstring& productType);
  // Writes the state of every profile into the profile store, stopping at
  // the first failure, a path without a form in the current character set
  // included.
  bool WriteProfiles();
  const ProfileTable& Profiles() const { return profiles_; }

  // Fills the registry-value table from the registry declarations key.
  bool ReadRegistry();
  // Sets the flags named by the features qualifying for `productType`, clears
  // all others, and writes every declared flag.
  bool ActivateRegistry(const std::wstring& productType);
  // Clears the flags named by the features qualifying for `productType` and
  // writes every declared flag.
  bool DeactivateRegistry(const std::wstring& productType);
  // Writes every record's flag as REG_DWORD 1 or 0, stopping at the first
  // failure.
  bool WriteRegistry();
  const RegistryValueTable& RegistryValues() const { return registryValues_; }

  // Fill the self-registration and self-unregistration tables; problems are
  // logged and the readable declarations kept, so both return true.
  bool ReadSelfregs();
  bool ReadSelfUnregs();
  // Run the registration (unregistration) command lines of the features that
  // qualify for `productType`, once per feature and listed name, one process
  // at a time. A command that fails is logged; both return true.
  bool RegisterPlugins(const std::wstring& productType);
  bool UnregisterPlugins(const std::wstring& productType);
  // Run one command line and log the outcome; false when it could not be
  // started, outlived the time limit or exited with a code other than 0.
  bool RegisterPluginImpl(const std::wstring& commandLine);
  bool UnregisterPluginImpl(const std::wstring& commandLine);
  const PluginCommandTable& Selfregs() const { return selfregs_; }
  const PluginCommandTable& SelfUnregs() const { return selfUnregs_; }
  // How long each registration process is waited for (tests shorten it).
  void SetPluginTimeLimit(std::uint32_t milliseconds) { pluginTimeLimitMs_ = milliseconds; }

 private:
  class Steps;
  class SinkReport;
  // A slot's body run at the module's edge.
  template <class Body>
  bool AtEdge(const wchar_t* operation, Body&& body) noexcept;
  // The same for a slot that reads or writes declarations: refused with a
  // level-3 line when the key paths are unknown, since empty paths would
  // name the root of the hive.
  template <class Body>
  bool OnDeclarations(const wchar_t* operation, Body&& body) noexcept;
  // Writes "<operation>: not available in this build" and returns false.
  bool Unavailable(const wchar_t* operation);

  std::wstring currentProductType_;
  std::wstring targetProductType_;
  ServiceLocator* serviceLocator_ = nullptr;  // not owned
  std::map<std::wstring, FeatureRecord> features_;
  ProfileTable profiles_;
  PluginCommandTable selfregs_;
  PluginCommandTable selfUnregs_;
  RegistryValueTable registryValues_;
  ProfileStore* profileStore_ = nullptr;  // not owned
  std::uint32_t pluginTimeLimitMs_ = ProcessLauncher::kTimeLimitMs;
};

// The factory behind GetVersionedQVRInstaller: 160 for a null out pointer,
// 0x80004002 for an unknown version.
// Nothing in it can throw: it allocates without throwing.
std::int32_t CreateVersionedInstaller(std::uint32_t version, VersionedInstaller** out) noexcept;

}  // namespace qvr
