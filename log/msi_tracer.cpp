#include "log/msi_tracer.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "component/oxa/text/utf.h"
#include "log/installer_log.h"

namespace oxa {

ResultCode MsiTracer::AllocateBuffer(TraceLevel /*level*/, char** buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  // realloc with 0 bytes may free the block and answer null.
  void* grown = std::realloc(*buffer, size ? size : 1);
  if (!grown) {
    std::free(*buffer);
    *buffer = nullptr;
    return rc::OutOfMemory;
  }
  *buffer = static_cast<char*>(grown);
  return rc::Ok;
}

ResultCode MsiTracer::CommitBuffer(char* buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  // No line is longer than the log writer's buffer, so neither is needed here.
  wchar_t converted[qvr::kLogLineChars];
  std::size_t length = 0;
  Utf8ToUtf16(std::string_view(buffer, size), converted, qvr::kLogLineChars, length, InvalidText::Replace);
  std::free(buffer);
  converted[std::min<std::size_t>(length, qvr::kLogLineChars - 1)] = L'\0';
  qvr::InstallerLog(install_).Line(L"%ls", converted);
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
