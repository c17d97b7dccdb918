#include "platform/product_info/product_info.h"

#include <windows.h>

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "component/oxa/exception/check_sites.h"
#include "component/oxa/system/module_file.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/trace/tracer.h"

namespace qvr {
namespace {

// The source positions that the failures of a load are reported with.
constexpr std::string_view kExpressionFailed = "Expression failed";

// Tries of a text read whose buffer grows.
constexpr int kMaxReadAttempts = 5;

struct FileIdentity {
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

// 0, or the Windows error of opening the file or reading its information.
DWORD ReadFileIdentity(const std::wstring& path, FileIdentity& identity) {
  // No access asked for: the identity is read also from a file that others
  // hold open.
  const oxa::FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return GetLastError();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.Get(), &information)) return GetLastError();
  identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  return 0;
}

[[noreturn]] void ThrowEquivalentError(const std::wstring& path, DWORD error) {
  throw std::filesystem::filesystem_error("equivalent", std::filesystem::path(path),
                                          std::error_code(static_cast<int>(error), std::system_category()));
}

[[noreturn]] void ThrowExpressionFailed(DWORD error, oxa::CheckSite site) {
  const oxa::SourcePosition at = oxa::PositionOf(site);
  oxa::Exception failure(at.file, at.line, kExpressionFailed.data(), kExpressionFailed.size());
  failure.SetProperty(oxa::ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, error));
  throw failure;
}

// A text of a call that answers the length copied, or the size it needs
// when the buffer is too small, or 0 (failed, or no text).
template <typename Read>
bool ReadReportedLengthText(Read read, std::wstring& text) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
    const DWORD length = read(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      text = std::move(buffer);
      return true;
    }
    buffer.resize(length);
  }
  return false;
}

using GetDllDirectoryFn = DWORD(WINAPI*)(DWORD length, LPWSTR buffer);

// The directories searched before the bare name, in order; a directory that
// cannot be read is left out.
std::vector<std::wstring> SearchDirectories() {
  std::vector<std::wstring> directories;

  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&LocateProductInfoLibrary), &self)) {
    const std::wstring moduleFile = oxa::ModuleFileName(self);
    if (!moduleFile.empty()) directories.emplace_back(oxa::SplitAtLastSeparator(moduleFile).directory);
  }

  std::wstring current;
  if (ReadReportedLengthText([](DWORD size, wchar_t* buffer) { return GetCurrentDirectoryW(size, buffer); },
                             current)) {
    directories.push_back(std::move(current));
  }

  // Looked up at run time: older systems lack it.
  const HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
  const auto getDllDirectory = kernel ? reinterpret_cast<GetDllDirectoryFn>(
                                            reinterpret_cast<void*>(GetProcAddress(kernel, "GetDllDirectoryW")))
                                      : nullptr;
  std::wstring dllDirectory;
  if (getDllDirectory && ReadReportedLengthText(getDllDirectory, dllDirectory)) {
    directories.push_back(std::move(dllDirectory));
  }
  return directories;
}

struct CacheEntry {
  FileIdentity identity;  // of the file that was loaded
  ProductInfo info;
};

// Filled on first use of each library file, kept until the module unloads.
std::vector<CacheEntry> g_cache;

const ProductInfo* FindCached(const std::wstring& path) {
  if (g_cache.empty()) return nullptr;
  FileIdentity identity;
  const DWORD error = ReadFileIdentity(path, identity);
  // No such file: a name for the system's library search, or a file that
  // the load will report missing.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return nullptr;
  if (error != 0) ThrowEquivalentError(path, error);
  for (const CacheEntry& entry : g_cache) {
    if (entry.identity == identity) return &entry.info;
  }
  return nullptr;
}

}  // namespace

ProductInfo LoadProductInfo(const std::wstring& path, ProductInfoLibraryLoader load) {
  if (const ProductInfo* cached = FindCached(path)) {
    OXA_TRACE(oxa::kTraceDetail) << "Product info from '" << path << "' has been already loaded.";
    return *cached;
  }
  OXA_TRACE(oxa::kTraceInfo) << "Need to check and load new product info from '" << path << "'";

  oxa::ModuleHandle library;
  load(path.c_str(), library);
  // Declared after the library: strings the library put here are destroyed
  // while it is still loaded.
  ProductInfo filled;
  if (!library) oxa::ThrowCheckFailed(oxa::CheckSite::kProductInfoNoLibrary);

  const auto getProductVersionInfo = reinterpret_cast<GetProductVersionInfo2Fn>(
      reinterpret_cast<void*>(GetProcAddress(library.Get(), kProductInfoExportName)));
  if (!getProductVersionInfo) ThrowExpressionFailed(GetLastError(), oxa::CheckSite::kProductInfoNoExport);
  const std::int32_t result = getProductVersionInfo(&filled);
  if (OXA_FAILED(result)) oxa::ThrowCheckResultFailed(result, oxa::CheckSite::kProductInfoExportFailed);

  // The record outlives the library: nothing in it may depend on the
  // library's heap or code.
  ProductInfo info = CopyToProcessHeap(filled);
  const std::wstring loadedFile = oxa::ModuleFileName(library.Get());
  FileIdentity identity;
  if (!loadedFile.empty() && ReadFileIdentity(loadedFile, identity) == 0) {
    g_cache.push_back({identity, info});
  }
  return info;
}

std::wstring LocateProductInfoLibrary() {
  for (const std::wstring& directory : SearchDirectories()) {
    std::wstring candidate = oxa::JoinPath(directory, kProductInfoLibraryName);
    if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return kProductInfoLibraryName;
}

}  // namespace qvr
