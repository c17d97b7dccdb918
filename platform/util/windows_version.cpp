#include "platform/util/windows_version.h"

#include <windows.h>

#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

struct VersionQuery {
  oxa::ResultCode result = oxa::rc::Ok;
  OSVERSIONINFOEXW info = {};
};

static_assert(sizeof(OSVERSIONINFOEXW) == 284);

VersionQuery QueryVersion() {
  VersionQuery query;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto getVersion = ntdll == nullptr ? nullptr
                                           : reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                                 GetProcAddress(ntdll, "RtlGetVersion")));
  if (getVersion == nullptr) {
    query.result = oxa::ResultFromWin32Error(GetLastError());
    return query;
  }
  query.info.dwOSVersionInfoSize = sizeof(query.info);
  if (getVersion(&query.info) != 0) query.result = oxa::rc::UnspecifiedError;
  return query;
}

// The UBR lives in the 64-bit view; the 32-bit module would otherwise be
// redirected away from it.
std::uint32_t ReadUpdateBuildRevision() {
  ScopedRegKey key;
  DWORD revision = 0;
  if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ,
               RegistryView::k64Bit) != ERROR_SUCCESS ||
      key.ReadDword(L"UBR", revision) != ERROR_SUCCESS)
    return 0;
  return revision;
}

}  // namespace

oxa::ResultCode GetWindowsVersion(WindowsVersion& version) {
  static const VersionQuery query = QueryVersion();
  if (OXA_FAILED(query.result)) return query.result;
  static const std::uint32_t updateBuildRevision = ReadUpdateBuildRevision();
  version.major = query.info.dwMajorVersion;
  version.minor = query.info.dwMinorVersion;
  version.build = query.info.dwBuildNumber;
  version.servicePackMajor = query.info.wServicePackMajor;
  version.updateBuildRevision = updateBuildRevision;
  return oxa::rc::Ok;
}

}  // namespace qvr
