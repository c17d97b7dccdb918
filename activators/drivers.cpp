#include "activators/drivers.h"

#include <windows.h>

#include "activators/declaration_table.h"
#include "component/oxa/system/unique_handle.h"
#include "drivers/wfp_manager.h"
#include "log/log_sink.h"

namespace qvr {
namespace {

constexpr wchar_t kFilteringDriver[] = L"vxwfp";

const DeclarationValueRules kDriverRules{
    L"ReadDrivers: can't enum drivers key: 0x%08x",
    L"ReadDrivers: can't query value %ls: 0x%08x",
    nullptr,
    L"ReadDrivers: drivers %ls = %d",
    /*badValueFails=*/false,
    /*skipOverlongNames=*/false,
    /*skipDefaultValue=*/true,
};

}  // namespace

void DriverServices::Read(LogSink* sink, const std::wstring& keyPath) {
  ScopedRegKey key;
  if (!OpenDeclarations(sink, keyPath, L"ReadDrivers: can't open drivers key: 0x%x", key)) return;
  ReadDeclarationValues(sink, key, kDriverRules, [&](const std::wstring& name, DWORD startType) -> Taken {
    drivers_[name] = startType;
    return Taken::kTaken;
  });
}

void DriverServices::Enable(LogSink* sink, const Requests& plan, bool wfpObjectsWanted) const {
  LogLine(sink, kLogInfo, L"EnableDrivers:entry point");
  for (const Request& request : plan) {
    const wchar_t* name = request.declaration.c_str();
    LogLine(sink, kLogInfo, L"EnableDrivers: enabling %ls requested by feature %ls", name, request.feature.c_str());
    std::uint32_t error = ERROR_SUCCESS;
    if (!ChangeDriverConfig(request.declaration, drivers_.at(request.declaration), sink, error)) {
      LogLine(sink, kLogError, L"EnableDrivers: enabling %ls failed", name);
      continue;
    }
    if (!SetDriverParameters(sink, request.declaration, true, wfpObjectsWanted))
      LogLine(sink, kLogError, L"EnableDrivers: setting params for %ls failed", name);
    if (!StartDriver(sink, request.declaration)) LogLine(sink, kLogError, L"EnableDrivers: starting %ls failed", name);
  }
}

void DriverServices::Disable(LogSink* sink, const Requests& plan, bool wfpObjectsWanted) const {
  LogLine(sink, kLogInfo, L"DisableDrivers:entry point");
  for (const Request& request : plan) {
    const wchar_t* name = request.declaration.c_str();
    LogLine(sink, kLogInfo, L"DisableDrivers: disable %ls requested by feature %ls", name, request.feature.c_str());
    std::uint32_t error = ERROR_SUCCESS;
    if (!ChangeDriverConfig(request.declaration, SERVICE_DISABLED, sink, error))
      LogLine(sink, kLogInfo, L"DisableDrivers: disable %ls failed", name);
    if (!SetDriverParameters(sink, request.declaration, false, wfpObjectsWanted))
      LogLine(sink, kLogError, L"DisableDrivers: removing params for %ls failed", name);
  }
}

bool ChangeDriverConfig(const std::wstring& name, std::uint32_t startType, LogSink* sink, std::uint32_t& error) {
  LogLine(sink, kLogInfo, L"ChangeDriverConfig:entry point");
  LogLine(sink, kLogDetail, L"ChangeDriverConfig: executing %ls", name.c_str());
  error = ERROR_SUCCESS;
  const oxa::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    error = GetLastError();
    LogLine(sink, kLogDetail, L"ChangeDriverConfigImpl: OpenSCManager failed: 0x%08X", static_cast<unsigned>(error));
    return false;
  }
  const oxa::ServiceHandle service(OpenServiceW(manager.Get(), name.c_str(), SERVICE_CHANGE_CONFIG));
  if (!service) {
    error = GetLastError();
    LogLine(sink, kLogError, L"ChangeDriverConfigImpl: OpenServiceW failed: 0x%08X", static_cast<unsigned>(error));
    return false;
  }
  if (ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr))
    return true;
  error = GetLastError();
  LogLine(sink, kLogError, L"ChangeDriverConfigImplW: ChangeServiceConfigW failed: 0x%08X",
          static_cast<unsigned>(error));
  return false;
}

bool StartDriver(LogSink* sink, const std::wstring& name) {
  LogLine(sink, kLogInfo, L"StartDriver:entry point");
  LogLine(sink, kLogDetail, L"StartDriver: executing %ls", name.c_str());
  const oxa::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    LogLine(sink, kLogError, L"StartDriver: OpenSCManager failed: 0x%08X", static_cast<unsigned>(GetLastError()));
    return false;
  }
  const oxa::ServiceHandle service(OpenServiceW(manager.Get(), name.c_str(), SERVICE_START));
  if (!service) {
    LogLine(sink, kLogError, L"StartDriver: OpenService(%ls) failed: 0x%08X", name.c_str(),
            static_cast<unsigned>(GetLastError()));
    return false;
  }
  if (StartServiceW(service.Get(), 0, nullptr)) return true;
  LogLine(sink, kLogError, L"StartDriver: StartService(%ls) failed: 0x%08X", name.c_str(),
          static_cast<unsigned>(GetLastError()));
  return false;
}

bool SetDriverParameters(LogSink* sink, const std::wstring& name, bool set, bool wfpObjectsWanted) {
  LogLine(sink, kLogInfo, L"SetDriverParameters:entry point");
  LogLine(sink, kLogDetail, L"SetDriverParameters: executing %ls", name.c_str());
  if (name != kFilteringDriver || !wfpObjectsWanted) return true;
  if (set ? SetVxwfpParameters(sink) : RemoveVxwfpParameters(sink)) return true;
  LogLine(sink, kLogError,
          set ? L"SetDriverParameters: setting %ls params failed" : L"SetDriverParameters: removing %ls params failed",
          name.c_str());
  return false;
}

bool SetVxwfpParameters(LogSink* sink) {
  LogLine(sink, kLogInfo, L"SetVxwfpParameters: entry point");
  for (int run = 1;; ++run) {
    const std::uint32_t installed = wfpmgr::WfpmgrInstallEx2();
    if (installed == 0) return true;
    LogLine(sink, kLogError, L"SetVxwfpParameters: WfpmgrInstallEx2 first run failed, err: 0x%X", installed);
    if (run == 2) return false;
    LogLine(sink, kLogError, L"SetVxwfpParameters: WfpMgrRemoveByEnumerate, err: 0x%X",
            wfpmgr::WfpMgrRemoveByEnumerate());
  }
}

bool RemoveVxwfpParameters(LogSink* sink) {
  LogLine(sink, kLogInfo, L"RemoveVxwfpParameters: entry point");
  const std::uint32_t removed = wfpmgr::WfpMgrRemoveByEnumerate();
  if (removed == 0) return true;
  LogLine(sink, kLogError, L"RemoveVxwfpParameters: WfpMgrRemoveByEnumerate failed, err: 0x%X", removed);
  return false;
}

}  // namespace qvr
