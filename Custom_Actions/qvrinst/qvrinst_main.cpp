// The module's exports and its entry point.
#include <windows.h>
#include <msi.h>

#include "Custom_Actions/qvrinst/crash_dump.h"
#include "Custom_Actions/qvrinst/custom_actions.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "component/oxa/trace/tracer.h"

namespace {

// The filter that was installed before ours, restored when the module unloads.
class PreviousFilterHolder {
 public:
  explicit PreviousFilterHolder(LPTOP_LEVEL_EXCEPTION_FILTER filter) : filter_(filter) {}
  ~PreviousFilterHolder() { SetUnhandledExceptionFilter(filter_); }
  PreviousFilterHolder(const PreviousFilterHolder&) = delete;
  PreviousFilterHolder& operator=(const PreviousFilterHolder&) = delete;

 private:
  LPTOP_LEVEL_EXCEPTION_FILTER filter_;
};

PreviousFilterHolder* g_previousFilter = nullptr;

void ReleasePreviousFilter() {
  delete g_previousFilter;
  g_previousFilter = nullptr;
}

}  // namespace

extern "C" {

UINT __stdcall MsiProductActivate(MSIHANDLE install) { return qvr::ProductActivate(install); }
UINT __stdcall MsiProductRbActivate(MSIHANDLE install) { return qvr::ProductRbActivate(install); }
UINT __stdcall MsiProductDeactivate(MSIHANDLE install) { return qvr::ProductDeactivate(install); }

std::int32_t GetVersionedQVRInstaller(std::uint32_t version, qvr::VersionedInstaller** out) {
  return qvr::CreateVersionedInstaller(version, out);
}

// The current tracer, without a reference; null before any custom action.
oxa::ITracer* GetTracer() { return oxa::GetCurrentTracer(); }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: {
      qvr::SetCrashDumpName(L"TRXINST");
      bool prepared = false;
      LPTOP_LEVEL_EXCEPTION_FILTER previous = qvr::InstallCrashDumpFilter(prepared);
      ReleasePreviousFilter();
      g_previousFilter = new (std::nothrow) PreviousFilterHolder(previous);
      return prepared ? TRUE : FALSE;
    }
    case DLL_PROCESS_DETACH:
      oxa::ReplaceCurrentTracer(nullptr);
      ReleasePreviousFilter();
      return TRUE;
    default:
      return TRUE;
  }
}

}  // extern "C"
