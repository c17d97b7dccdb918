#include "platform/util/windows/filesystem.h"

#include <shlobj.h>

#include <cwchar>

#include "component/oxa/exception/check_sites.h"

namespace qvr {

std::wstring GetFolderPath(int csidl, HANDLE token) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, csidl, token, 0, buffer) != S_OK) oxa::ThrowCheckFailed(oxa::CheckSite::kFolderLookup);
  return std::wstring(buffer, wcsnlen(buffer, MAX_PATH + 1));
}

}  // namespace qvr
