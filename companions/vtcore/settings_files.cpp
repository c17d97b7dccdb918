#include "companions/vtcore/settings_files.h"

#include <windows.h>

#include "component/oxa/system/unique_handle.h"

namespace vtcore {
namespace {

constexpr oxa::ResultCode kFileTooBig = static_cast<oxa::ResultCode>(0x80000078u);
constexpr DWORD kMaxFileBytes = 16u << 20;

oxa::ResultCode LastError() { return oxa::ResultFromWin32Error(GetLastError()); }

}  // namespace

std::wstring StoreFilePath(const std::wstring& xmlPath) { return xmlPath + L".store"; }

oxa::ResultCode ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  const oxa::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastError();
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) return LastError();
  if (size.QuadPart > kMaxFileBytes) return kFileTooBig;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return LastError();
  }
  bytes.resize(read);
  return oxa::rc::Ok;
}

oxa::ResultCode WriteFileAtomically(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".new";
  {
    oxa::FileHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.Get())) {
      const oxa::ResultCode error = LastError();
      file.Reset();
      DeleteFileW(temporary.c_str());
      return error;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const oxa::ResultCode error = LastError();
    DeleteFileW(temporary.c_str());
    return error;
  }
  return oxa::rc::Ok;
}

oxa::ResultCode BuildSettingsTree(const std::wstring& xmlPath, const TreeSources& sources, SettingsNode& tree,
                                  BuildFailure* failure) {
  BuildFailure ignored;
  BuildFailure& report = failure ? *failure : ignored;
  tree = SettingsNode();
  std::string text;
  report.file = xmlPath;
  oxa::ResultCode result = ReadWholeFile(xmlPath, text);
  SettingsNode declared;
  if (OXA_SUCCEEDED(result)) result = ParseProfilesXml(text, declared, &report.parse);
  if (OXA_FAILED(result)) return result;

  if (sources.useStoreFile) {
    report.file = StoreFilePath(xmlPath);
    result = ReadWholeFile(report.file, text);
    if (OXA_SUCCEEDED(result)) {
      SettingsNode state;
      result = ParseStoreFile(text, state, &report.parse);
      if (OXA_FAILED(result)) return result;
      if (sources.addDeclaredNodes) AddMissingNodes(state, declared);
      tree = std::move(state);
      return oxa::rc::Ok;
    }
    if (result != oxa::ResultFromWin32Error(ERROR_FILE_NOT_FOUND)) return result;
  }
  tree = std::move(declared);
  return oxa::rc::Ok;
}

}  // namespace vtcore
