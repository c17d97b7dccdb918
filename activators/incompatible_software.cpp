#include "activators/incompatible_software.h"

#include <windows.h>
// rpc.h needs the Windows types.
#include <objbase.h>
#include <rpc.h>

#include <cstdio>
#include <exception>
#include <vector>

#include "Custom_Actions/qvrinst/vector_string_list.h"
#include "cleaner/cleaner.h"
#include "log/log_sink.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

constexpr DWORD kTempPathChars = 260;
constexpr DWORD kTempPathLimit = 65536;

const wchar_t* FilterLine(std::uint32_t filter) {
  switch (filter) {
    case 0:
      return L"CheckForApplicationsToRemove: Filter set to Detect only";
    case 1:
      return L"CheckForApplicationsToRemove: Filter set to Safe Uninstall";
    case 2:
      return L"CheckForApplicationsToRemove: Filter set to Custom Uninstall";
  }
  return nullptr;
}

// A product value that must be present and not empty.
bool ReadParam(LogSink* sink, const ScopedRegKey& key, const wchar_t* name, std::wstring& text) {
  if (!CheckSuccess(sink, key.ReadString(name, StringPolicy::kSzOnly, text),
                    L"GetCleanerParams: can't query %ls value: 0x%08x", name))
    return false;
  if (!text.empty()) return true;
  LogLine(sink, kLogError, L"GetCleanerParams: %ls value is empty", name);
  return false;
}

// GetTempPathW into a buffer that grows while the path does not fit.
DWORD GetTempFolder(std::wstring& folder) {
  std::wstring buffer(kTempPathChars, L'\0');
  for (;;) {
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return GetLastError();
    if (length < buffer.size()) {
      buffer.resize(length);
      folder = std::move(buffer);
      return ERROR_SUCCESS;
    }
    if (length >= kTempPathLimit / 2) return ERROR_INSUFFICIENT_BUFFER;
    buffer.assign(2 * static_cast<std::size_t>(length), L'\0');
  }
}

// A new braced upper-case GUID; one unique to this machine only will do.
DWORD NewFolderName(std::wstring& name) {
  UUID id;
  const RPC_STATUS status = UuidCreate(&id);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return static_cast<DWORD>(status);
  wchar_t text[39];
  if (StringFromGUID2(id, text, static_cast<int>(std::size(text))) == 0) return ERROR_INSUFFICIENT_BUFFER;
  name = text;
  return ERROR_SUCCESS;
}

void LogRemoved(LogSink* sink, const std::vector<DetectedApp>& removed, VectorStringList* names) {
  for (const DetectedApp& app : removed) {
    LogLine(sink, kLogInfo, L"RemoveApplications: removed '%ls'", app.displayName.c_str());
    if (names) names->Append(app.name);
  }
}

}  // namespace

IncompatibleSoftware::IncompatibleSoftware() = default;
IncompatibleSoftware::~IncompatibleSoftware() { Shutdown(); }

bool IncompatibleSoftware::InitializeCleaner(const CleanerSetup& setup) {
  if (cleaner_) {
    LogLine(setup.sink, kLogInfo, L"InitializeCleaner: already initialized");
    return true;
  }
  LogLine(setup.sink, kLogInfo, L"InitializeCleaner: GetCleanerParams entry point");
  std::wstring packPath, scratchFolder, productVersion;
  if (!GetCleanerParams(setup, packPath, scratchFolder, productVersion)) return false;
  LogLine(setup.sink, kLogInfo, L"InitializeCleaner: ExtractCleanerData from '%ls' to '%ls' product version '%ls'",
          packPath.c_str(), scratchFolder.c_str(), productVersion.c_str());
  return ExtractCleanerData(setup, packPath, scratchFolder);
}

bool IncompatibleSoftware::GetCleanerParams(const CleanerSetup& setup, std::wstring& packPath,
                                            std::wstring& scratchFolder, std::wstring& productVersion) {
  ScopedRegKey key;
  if (!CheckSuccess(setup.sink, key.Open(HKEY_LOCAL_MACHINE, setup.environmentKey.c_str(), KEY_READ),
                    L"GetCleanerParams: can't open environment key: 0x%08x"))
    return false;
  std::wstring productRoot;
  if (!ReadParam(setup.sink, key, L"ProductRoot", productRoot) ||
      !ReadParam(setup.sink, key, L"ProductVersion", productVersion))
    return false;
  packPath = productRoot + L"\\sweeper.pack";
  std::wstring tempFolder;
  if (!CheckSuccess(setup.sink, GetTempFolder(tempFolder), L"GetCleanerFolders: can't get Temp folder: 0x%08x"))
    return false;
  // The cleaner deletes its scratch folder with all it holds: without a new
  // name there is no scratch folder.
  std::wstring name;
  if (!CheckSuccess(setup.sink, NewFolderName(name), L"GetCleanerFolders: can't create a folder name: 0x%08x"))
    return false;
  scratchFolder = tempFolder + name;
  return true;
}

bool IncompatibleSoftware::ExtractCleanerData(const CleanerSetup& setup, const std::wstring& packPath,
                                              const std::wstring& scratchFolder) {
  LogSink* sink = setup.sink;
  LogLine(sink, kLogInfo, L"ExtractCleanerData entry point");
  LogLine(sink, kLogInfo, L"ExtractCleanerData: check installed features");
  std::uint32_t code = 0;
  try {
    const StringVector filterNames = FilterNames(setup.features, setup.productType);
    cleaner_.reset();
    // Diagnostics of the cleaner and its library are text, never a format.
    cleaner_ = std::make_unique<Cleaner>([sink](const std::wstring& line) {
      std::wstring text;
      for (const wchar_t c : line) {
        text += c;
        if (c == L'%') text += L'%';
      }
      LogLine(sink, kLogInfo, text.c_str());
    });
    code = cleaner_->InitializeProductTypes(packPath, filterNames, scratchFolder);
  } catch (const std::exception& error) {
    Shutdown();
    LogLine(sink, kLogError, L"ExtractCleanerData: error: %hs", error.what());
    return false;
  } catch (...) {
    Shutdown();
    LogLine(sink, kLogError, L"ExtractCleanerData: unexpected error");
    return false;
  }
  if (code != 0) {
    LogLine(sink, kLogError, L"ExtractCleanerData: InitializeProductTypes error = %0x", code);
    Shutdown();
  }
  LogLine(sink, kLogInfo, L"ExtractCleanerData return point");
  return code == 0;
}

bool IncompatibleSoftware::CheckForApplicationsToRemove(const CleanerSetup& setup, std::uint32_t filter,
                                                        StringList** detected) {
  LogLine(setup.sink, kLogInfo, L"CheckForApplicationsToRemove entry point");
  if (!InitializeCleaner(setup)) return false;
  if (const wchar_t* line = FilterLine(filter)) LogLine(setup.sink, kLogInfo, line);
  // A failed enumeration shows only as lines: it detects nothing.
  std::vector<DetectedApp> apps;
  cleaner_->Enumerate(apps);
  if (detected && !apps.empty()) {
    // Handed over whole or not at all.
    StringListPtr<VectorStringList> names(new VectorStringList());
    for (const DetectedApp& app : apps) {
      if (app.category != filter) continue;
      LogLine(setup.sink, kLogInfo, L"CheckForApplicationsToRemove: detected alien software  '%ls'",
              app.displayName.c_str());
      names->Append(app.name);
    }
    *detected = names.release();
  }
  LogLine(setup.sink, kLogInfo, L"CheckForApplicationsToRemove return point");
  return true;
}

bool IncompatibleSoftware::RemoveApplications(const CleanerSetup& setup, StringList** applications) {
  LogLine(setup.sink, kLogInfo, L"RemoveApplications entry point");
  if (!InitializeCleaner(setup)) return false;
  StringListPtr<VectorStringList> removedNames(new VectorStringList());
  StringList* given = applications ? *applications : nullptr;
  if (given && given->Count() > 0) {
    for (std::uint32_t index = 0; index < given->Count(); ++index) {
      const wchar_t* name = given->Get(index);
      std::vector<DetectedApp> removed;
      const std::uint32_t code = cleaner_->RemoveByName(name ? name : L"", removed);
      LogLine(setup.sink, kLogInfo, L"RemoveApplications: removing application by name finished with result %0x", code);
      if (code == 0) LogRemoved(setup.sink, removed, removedNames.get());
    }
  } else {
    std::vector<DetectedApp> removed;
    const std::uint32_t code = cleaner_->Remove(nullptr, [&](const DetectedApp& app) { removed.push_back(app); });
    LogLine(setup.sink, kLogInfo, L"RemoveApplications: removing all applications finished with result %0x", code);
    if (applications) LogRemoved(setup.sink, removed, removedNames.get());
  }
  if (applications) {
    if (given) given->Release();
    *applications = removedNames.release();
  }
  LogLine(setup.sink, kLogInfo, L"RemoveApplications return point");
  return true;
}

void IncompatibleSoftware::Shutdown() noexcept {
  if (!cleaner_) return;
  cleaner_->Shutdown();
  cleaner_.reset();
}

}  // namespace qvr
