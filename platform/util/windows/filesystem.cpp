#include "platform/util/windows/filesystem.h"

#include <shlobj.h>

#include <cwchar>

#include "component/oxa/exception/exception.h"

namespace qvr {
namespace {

// The source position that a failed lookup is reported with.
constexpr const char kSourceFile[] = "platform/util/windows/filesystem";
constexpr int kLookupFailedLine = 183;

}  // namespace

std::wstring GetFolderPath(int csidl, HANDLE token) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, csidl, token, 0, buffer) != S_OK) oxa::ThrowCheckFailed(kSourceFile, kLookupFailedLine);
  return std::wstring(buffer, wcsnlen(buffer, MAX_PATH + 1));
}

}  // namespace qvr
