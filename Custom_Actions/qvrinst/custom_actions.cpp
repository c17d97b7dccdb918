#include "Custom_Actions/qvrinst/custom_actions.h"

#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/exception_boundary.h"
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

// An exception that reached an action's edge: its line, then the end record
// the action could not write.
class ActionReport final : public BoundaryReport {
 public:
  explicit ActionReport(MSIHANDLE install) : install_(install) {}
  void Write(const wchar_t* action, const char* description) override {
    WriteLogLine(install_, L"%ls: unexpected exception: %hs", action, description);
    WriteActionEnd(install_, action, kInstallFailure);
  }

 private:
  MSIHANDLE install_;
};

using ActionBody = UINT (*)(MSIHANDLE install, const wchar_t* action);

UINT RunAction(MSIHANDLE install, const wchar_t* action, ActionBody body) noexcept {
  ActionReport report(install);
  return RunAtEdge(action, kInstallFailure, report, [&] { return body(install, action); });
}

// The start line, then the session's tracer for every framework record.
void StartAction(MSIHANDLE install, const wchar_t* action) {
  WriteActionStart(install, action);
  oxa::InstallSessionTracer(install);
}

UINT Activate(MSIHANDLE install, const wchar_t* action) {
  StartAction(install, action);

  std::wstring data;
  const UINT read = ReadCustomActionData(install, data);
  if (read != ERROR_SUCCESS) {
    WriteLogLine(install, L"%ls: can't read CustomActionData: 0x%08x", action, read);
    WriteActionEnd(install, action, kInstallFailure);
    return kInstallFailure;
  }
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
    WriteActionEnd(install, action, kInstallFailure);
    return kInstallFailure;
  }

  MsiLogSink sink(install);
  UINT result = kInstallFailure;
  {
    Installer installer;
    // An activation on half-read declarations would switch off what was not
    // read (profiles marked not installed, flags cleared) and report success.
    if (installer.Initialize(&sink, productType.c_str(), profiles.Store())) {
      result = installer.ActivateProduct(mode) ? ERROR_SUCCESS : kInstallFailure;
    } else {
      WriteLogLine(install, L"%ls: Initialize failed, nothing was activated", action);
    }
    WriteActionEnd(install, action, result);
  }
  return result;
}

// Rollback and deactivation: both deactivate the stored product type, the
// rollback only when one is stored. They go on with what Initialize read: a
// rollback or an uninstall that stops halfway leaves the machine worse off.
UINT DeactivateStoredType(MSIHANDLE install, const wchar_t* action, bool onlyWhenStored) {
  StartAction(install, action);
  MsiLogSink sink(install);
  UINT result = ERROR_SUCCESS;
  {
    Installer installer;
    if (!installer.Initialize(&sink, L"", nullptr))
      WriteLogLine(install, L"%ls: Initialize failed, deactivating what was read", action);
    // Without key paths nothing could be read, not even whether a type is
    // stored: the deactivation refuses and the action fails.
    if (!onlyWhenStored || !installer.CurrentProductType().empty() || !installer.HasKeyPaths())
      result = installer.DeactivateCurrentType() ? ERROR_SUCCESS : kInstallFailure;
    WriteActionEnd(install, action, result);
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
