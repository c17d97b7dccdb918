#include "Custom_Actions/qvrinst/custom_actions.h"

#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/key_value_list.h"
#include "Custom_Actions/qvrinst/msi_log.h"
#include "component/oxa/trace/msi_tracer.h"

#include <msiquery.h>

#include <memory>
#include <new>

namespace qvr {
namespace {

constexpr UINT kInstallFailure = ERROR_INSTALL_FAILURE;  // 1603

ActivationMode ModeFrom(const KeyValueList& parameters) {
  auto on = [&](const wchar_t* key) { return parameters.GetValue(key) == L"1"; };
  ActivationMode mode = 0;
  if (on(L"Files")) mode |= kActivateShortcuts;
  if (on(L"Registry")) mode |= kActivateRegistry;
  if (on(L"Plugins")) mode |= kActivatePlugins;
  if (on(L"ProtocolHandlers")) mode |= kActivateProtocolHandlers;
  if (on(L"Profiles")) mode |= kActivateProfiles;
  return mode;
}

// The start line, then the session's tracer for every framework record.
void StartAction(MSIHANDLE install, const wchar_t* action) {
  WriteActionStart(install, action);
  oxa::InstallSessionTracer(install);
}

// Rollback and deactivation: both deactivate the stored product type, the
// rollback only when one is stored.
UINT DeactivateStoredType(MSIHANDLE install, const wchar_t* action, bool onlyWhenStored) {
  StartAction(install, action);
  MsiLogSink sink(install);
  UINT result = ERROR_SUCCESS;
  {
    Installer installer;
    installer.Initialize(&sink, L"", nullptr);
    if (!onlyWhenStored || !installer.CurrentProductType().empty())
      result = installer.DeactivateCurrentType() ? ERROR_SUCCESS : kInstallFailure;
    WriteActionEnd(install, action, result);
  }
  return result;
}

}  // namespace

bool ReadCustomActionData(MSIHANDLE install, std::wstring& text) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA) return false;
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[size + 1]);
  if (!buffer) return false;
  DWORD capacity = size + 1;
  if (MsiGetPropertyW(install, L"CustomActionData", buffer.get(), &capacity) != ERROR_SUCCESS) return false;
  text.assign(buffer.get(), size);
  return true;
}

UINT ProductActivate(MSIHANDLE install) {
  static constexpr wchar_t kAction[] = L"MsiProductActivate";
  StartAction(install, kAction);

  std::wstring data;
  ReadCustomActionData(install, data);
  KeyValueList parameters;
  if (!data.empty() && !parameters.Parse(data)) return kInstallFailure;

  const std::wstring& productType = parameters.GetValue(L"ProductType");
  const ActivationMode mode = ModeFrom(parameters);
  WriteLogLine(install,
               L"MsiProductActivate: ProductType=%ls, Files=%ls, Registry=%ls, Plugins=%ls, ProtocolHandlers=%ls, "
               L"ProfilesActivation=%ls, mode=%i",
               productType.c_str(), parameters.GetValue(L"Files").c_str(), parameters.GetValue(L"Registry").c_str(),
               parameters.GetValue(L"Plugins").c_str(), parameters.GetValue(L"ProtocolHandlers").c_str(),
               parameters.GetValue(L"Profiles").c_str(), static_cast<int>(mode));

  VantorTmProfiles profiles(install);
  if (!profiles.Store()) {
    WriteActionEnd(install, kAction, kInstallFailure);
    return kInstallFailure;
  }

  MsiLogSink sink(install);
  UINT result;
  {
    Installer installer;
    installer.Initialize(&sink, productType.c_str(), profiles.Store());
    result = installer.ActivateProduct(mode) ? ERROR_SUCCESS : kInstallFailure;
    WriteActionEnd(install, kAction, result);
  }
  return result;
}

UINT ProductRbActivate(MSIHANDLE install) { return DeactivateStoredType(install, L"MsiProductRbActivate", true); }

UINT ProductDeactivate(MSIHANDLE install) { return DeactivateStoredType(install, L"MsiProductDeactivate", false); }

}  // namespace qvr
