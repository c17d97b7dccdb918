#include "log/msi_tracer.h"

#include <exception>

#include "log/installer_log.h"

namespace oxa {

ResultCode MsiTracer::WriteLine(const wchar_t* line) const {
  qvr::InstallerLog(install_).Line(L"%ls", line);
  return rc::Ok;
}

ResultCode InstallSessionTracer(MSIHANDLE install) noexcept {
  if (!install) return rc::InvalidArgument;
  try {
    ReplaceCurrentTracer(new MsiTracer(install));
  } catch (const std::exception& error) {
    qvr::InstallerLog(install).Line(L"Create of tracer instance has failed, err %hs", error.what());
    return rc::UnspecifiedError;
  }
  return rc::Ok;
}

}  // namespace oxa
