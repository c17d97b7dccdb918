#include "Custom_Actions/qvrinst/custom_actions.h"

#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/exception_boundary.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/key_value_list.h"
#include "log/installer_log.h"
#include "log/msi_tracer.h"

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

// An exception that reached an action's edge: its line, then the end record
// the action could not write.
class ActionReport final : public BoundaryReport {
 public:
  explicit ActionReport(MSIHANDLE install) : log_(install) {}
  void Write(const wchar_t* action, const char* description) override {
    log_.Line(L"%ls: unexpected exception: %hs", action, description);
    log_.ActionEnd(action, kInstallFailure);
  }

 private:
  InstallerLog log_;
};

using ActionBody = UINT (*)(MSIHANDLE install, const wchar_t* action);

UINT RunAction(MSIHANDLE install, const wchar_t* action, ActionBody body) noexcept {
  ActionReport report(install);
  return RunAtEdge(action, kInstallFailure, report, [&] { return body(install, action); });
}

// The start line, then the session's tracer for every framework record.
void StartAction(MSIHANDLE install, const wchar_t* action) {
  InstallerLog(install).ActionStart(action);
  oxa::InstallSessionTracer(install);
}

UINT Activate(MSIHANDLE install, const wchar_t* action) {
  StartAction(install, action);
  const InstallerLog log(install);

  std::wstring data;
  const UINT read = ReadCustomActionData(install, data);
  if (read != ERROR_SUCCESS) {
    log.Line(L"%ls: can't read CustomActionData: 0x%08x", action, read);
    log.ActionEnd(action, kInstallFailure);
    return kInstallFailure;
  }
  KeyValueList parameters;
  if (!data.empty() && !parameters.Parse(data)) return kInstallFailure;

  const std::wstring& productType = parameters.GetValue(L"ProductType");
  const ActivationMode mode = ModeFrom(parameters);
  log.Line(
               L"MsiProductActivate: ProductType=%ls, Files=%ls, Registry=%ls, Plugins=%ls, ProtocolHandlers=%ls, "
               L"ProfilesActivation=%ls, mode=%i",
               productType.c_str(), parameters.GetValue(L"Files").c_str(), parameters.GetValue(L"Registry").c_str(),
               parameters.GetValue(L"Plugins").c_str(), parameters.GetValue(L"ProtocolHandlers").c_str(),
               parameters.GetValue(L"Profiles").c_str(), static_cast<int>(mode));

  VantorTmProfiles profiles(install);
  if (!profiles.Store()) {
    log.ActionEnd(action, kInstallFailure);
    return kInstallFailure;
  }

  InstallerLogSink sink(install);
  UINT result = kInstallFailure;
  {
    Installer installer;
    // An activation on half-read declarations would switch off what was not
    // read (profiles marked not installed, flags cleared) and report success.
    if (installer.Initialize(&sink, productType.c_str(), profiles.Store())) {
      result = installer.ActivateProduct(mode) ? ERROR_SUCCESS : kInstallFailure;
    } else {
      log.Line(L"%ls: Initialize failed, nothing was activated", action);
    }
    log.ActionEnd(action, result);
  }
  return result;
}

// Rollback and deactivation: both deactivate the stored product type, the
// rollback only when one is stored. They go on with what Initialize read: a
// rollback or an uninstall that stops halfway leaves the machine worse off.
UINT DeactivateStoredType(MSIHANDLE install, const wchar_t* action, bool onlyWhenStored) {
  StartAction(install, action);
  const InstallerLog log(install);
  InstallerLogSink sink(install);
  UINT result = ERROR_SUCCESS;
  {
    Installer installer;
    if (!installer.Initialize(&sink, L"", nullptr))
      log.Line(L"%ls: Initialize failed, deactivating what was read", action);
    // Without key paths nothing could be read, not even whether a type is
    // stored: the deactivation refuses and the action fails.
    if (!onlyWhenStored || !installer.CurrentProductType().empty() || !installer.HasKeyPaths())
      result = installer.DeactivateCurrentType() ? ERROR_SUCCESS : kInstallFailure;
    log.ActionEnd(action, result);
  }
  return result;
}

UINT RollBack(MSIHANDLE install, const wchar_t* action) { return DeactivateStoredType(install, action, true); }

UINT Deactivate(MSIHANDLE install, const wchar_t* action) { return DeactivateStoredType(install, action, false); }

}  // namespace

UINT ReadCustomActionData(MSIHANDLE install, std::wstring& text) {
  text.clear();
  DWORD size = 0;
  wchar_t empty[1] = {};
  UINT result = MsiGetPropertyW(install, L"CustomActionData", empty, &size);
  // An engine may answer an empty property without asking for room.
  if (result == ERROR_SUCCESS) return ERROR_SUCCESS;
  if (result != ERROR_MORE_DATA) return result;
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[size + 1]);
  if (!buffer) return ERROR_OUTOFMEMORY;
  DWORD capacity = size + 1;
  result = MsiGetPropertyW(install, L"CustomActionData", buffer.get(), &capacity);
  if (result != ERROR_SUCCESS) return result;
  text.assign(buffer.get(), size);
  return ERROR_SUCCESS;
}

UINT ProductActivate(MSIHANDLE install) noexcept { return RunAction(install, L"MsiProductActivate", Activate); }

UINT ProductRbActivate(MSIHANDLE install) noexcept { return RunAction(install, L"MsiProductRbActivate", RollBack); }

UINT ProductDeactivate(MSIHANDLE install) noexcept {
  return RunAction(install, L"MsiProductDeactivate", Deactivate);
}

}  // namespace qvr
