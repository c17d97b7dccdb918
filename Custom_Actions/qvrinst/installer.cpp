#include "Custom_Actions/qvrinst/installer.h"

#include "Custom_Actions/qvrinst/msi_log.h"

#include <new>

namespace qvr {

Installer::Installer() = default;
Installer::~Installer() = default;

bool Installer::Unavailable(const wchar_t* operation) {
  LogSink* sink = GetLogSink();
  if (sink && sink->IsEnabled()) sink->Write(kLogError, L"%ls: not available in this build", operation);
  return false;
}

bool Installer::Initialize(LogSink* sink, const wchar_t* productType, ProfileStore* profileStore) {
  sink_ = sink;
  if (!InitCommonRegKeys()) return false;
  targetProductType_ = productType ? std::wstring(productType) : currentProductType_;
  profileStore_ = profileStore;
  return true;
}

void Installer::Release() { delete this; }

bool Installer::SwitchProductType() { return Unavailable(L"SwitchProductType"); }

bool Installer::CheckForApplicationsToRemove(std::uint32_t, StringList**) {
  return Unavailable(L"CheckForApplicationsToRemove");
}

bool Installer::RemoveApplications(std::uint32_t, StringList**) { return Unavailable(L"RemoveApplications"); }

bool Installer::ActivateProduct(ActivationMode) { return Unavailable(L"ActivateProduct"); }

bool Installer::ChangeProductIcons(const wchar_t*) { return Unavailable(L"ChangeProductIcons"); }

bool Installer::RemoveProductShortcuts() { return Unavailable(L"RemoveProductShortcuts"); }

bool Installer::DeactivateCurrentType() { return Unavailable(L"DeactivateCurrentType"); }

std::int32_t CreateVersionedInstaller(std::uint32_t version, VersionedInstaller** out) {
  constexpr std::int32_t kBadArguments = 160;
  constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
  if (!out) return kBadArguments;
  *out = nullptr;
  if (version < 1 || version > 3) return kNoInterface;
  *out = new Installer();
  return 0;
}

}  // namespace qvr
