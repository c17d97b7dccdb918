#include "Custom_Actions/qvrinst/installer.h"

#include "Custom_Actions/qvrinst/exception_boundary.h"
#include "Custom_Actions/qvrinst/msi_log.h"

#include <new>

namespace qvr {

// The activators as the sequences see them.
class Installer::Steps final : public ActivationSteps {
 public:
  explicit Steps(Installer& installer) : installer_(installer) {}
  bool WriteProductType(const std::wstring& type) override { return installer_.WriteProductType(type); }
  bool ActivateEnvironment(const std::wstring& type) override { return installer_.ActivateEnvironment(type); }
  bool DeactivateCurrentType() override { return installer_.DeactivateCurrentType(); }
  bool ActivateProfiles(const std::wstring& type) override { return installer_.ActivateProfiles(type); }
  bool DeactivateProfiles(const std::wstring& type) override { return installer_.DeactivateProfiles(type); }
  bool RegisterPlugins(const std::wstring& type) override { return installer_.RegisterPlugins(type); }
  bool UnregisterPlugins(const std::wstring& type) override { return installer_.UnregisterPlugins(type); }
  bool ActivateRegistry(const std::wstring& type) override { return installer_.ActivateRegistry(type); }
  bool DeactivateRegistry(const std::wstring& type) override { return installer_.DeactivateRegistry(type); }
  bool RegisterProtoHandlers() override { return installer_.RegisterProtoHandlers(); }
  bool UnRegisterProtoHandlers() override { return installer_.UnRegisterProtoHandlers(); }

 private:
  Installer& installer_;
};

// An exception caught at a slot goes to the object's sink.
class Installer::SinkReport final : public BoundaryReport {
 public:
  explicit SinkReport(Installer& installer) : installer_(installer) {}
  void Write(const wchar_t* operation, const char* description) override {
    LogLine(installer_.GetLogSink(), kLogError, L"%ls: unexpected exception: %hs", operation, description);
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
    LogLine(GetLogSink(), kLogError, L"%ls: the product's registry keys are unknown (Initialize failed)", operation);
    return false;
  });
}

bool Installer::Unavailable(const wchar_t* operation) {
  LogSink* sink = GetLogSink();
  if (sink && sink->IsEnabled()) sink->Write(kLogError, L"%ls: not available in this build", operation);
  return false;
}

bool Installer::Initialize(LogSink* sink, const wchar_t* productType, ProfileStore* profileStore) {
  sink_ = sink;
  return AtEdge(L"Initialize", [&] {
    if (!InitCommonRegKeys()) return false;
    ReadProductType(currentProductType_);
    targetProductType_ = productType ? std::wstring(productType) : currentProductType_;
    profileStore_ = profileStore;
    return ReadProfiles() && ReadFeatures() && ReadSelfregs() && ReadSelfUnregs() &&
           ReadProtoHandlers(commonRegKeys_[kProtoHandlersKey]) && ReadRegistry();
  });
}

void Installer::Release() noexcept { delete this; }

bool Installer::SwitchProductType() {
  return OnDeclarations(L"SwitchProductType", [&] {
    Steps steps(*this);
    return RunSwitchProductType(steps, currentProductType_, targetProductType_);
  });
}

bool Installer::CheckForApplicationsToRemove(std::uint32_t, StringList**) {
  return AtEdge(L"CheckForApplicationsToRemove", [&] { return Unavailable(L"CheckForApplicationsToRemove"); });
}

bool Installer::RemoveApplications(std::uint32_t, StringList**) {
  return AtEdge(L"RemoveApplications", [&] { return Unavailable(L"RemoveApplications"); });
}

bool Installer::ActivateProduct(ActivationMode mode) {
  return OnDeclarations(L"ActivateProduct", [&] {
    Steps steps(*this);
    return RunActivateProduct(steps, GetLogSink(), currentProductType_, targetProductType_, mode);
  });
}

bool Installer::ChangeProductIcons(const wchar_t*) {
  return AtEdge(L"ChangeProductIcons", [&] { return Unavailable(L"ChangeProductIcons"); });
}

bool Installer::RemoveProductShortcuts() {
  return AtEdge(L"RemoveProductShortcuts", [&] { return Unavailable(L"RemoveProductShortcuts"); });
}

bool Installer::DeactivateCurrentType() {
  return OnDeclarations(L"DeactivateCurrentType", [&] {
    Steps steps(*this);
    return RunDeactivateCurrentType(steps, currentProductType_);
  });
}

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
