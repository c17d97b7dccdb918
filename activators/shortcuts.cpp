// The shortcuts' files, folders and registry side.
#include "activators/shortcuts.h"

#include <windows.h>
// shlobj.h needs the Windows types.
#include <shlobj.h>

#include <cwchar>
#include <exception>
#include <thread>

#include "activators/file_removal.h"
#include "component/oxa/exception/exception.h"
#include "component/oxa/system/file/path.h"
#include "log/log_sink.h"
#include "log/log_sink_tracer.h"
#include "platform/user_hives/account_type.h"
#include "platform/user_hives/user_hive_walk.h"
#include "platform/util/scoped_reg_key.h"
#include "platform/util/windows/filesystem.h"
#include "platform/util/windows/shell_link.h"

namespace qvr {
namespace {

constexpr std::chrono::milliseconds kRetryWait{1000};
constexpr wchar_t kRetryWaitVariable[] = L"QVR_SHORTCUT_RETRY_MS";
constexpr wchar_t kGuardedBankingValue[] = L"GuardedBankingShortcut";
constexpr wchar_t kToasterValue[] = L"LnkName";

class SystemFiles final : public FileOperations {
 public:
  explicit SystemFiles(std::chrono::milliseconds wait) : wait_(wait) {}
  std::uint32_t Delete(const std::wstring& path) override {
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
  }
  std::uint32_t ScheduleDeletionAtRestart(const std::wstring& path, std::uint32_t moveFlags) override {
    return MoveFileExW(path.c_str(), nullptr, moveFlags) ? ERROR_SUCCESS : GetLastError();
  }
  void WaitBeforeRetry() override { std::this_thread::sleep_for(wait_); }

 private:
  std::chrono::milliseconds wait_;
};

// The lines of a file that is deleted once, else at the restart.
struct SingleRemovalLines {
  const wchar_t* deleted;       // path
  const wchar_t* notDeleted;    // path, error (level 1)
  const wchar_t* notScheduled;  // path, error
};

void RemoveOnce(LogSink* sink, const std::wstring& path, const SingleRemovalLines& lines) {
  SystemFiles files(std::chrono::milliseconds(0));
  const RemovalOutcome outcome = RemoveFile(files, path, kSingleRemoval);
  if (outcome.deleteError == ERROR_SUCCESS) {
    LogLine(sink, kLogInfo, lines.deleted, path.c_str());
    return;
  }
  LogLine(sink, kLogInfo, lines.notDeleted, path.c_str(), outcome.deleteError);
  if (outcome.scheduleError != ERROR_SUCCESS)
    LogLine(sink, kLogError, lines.notScheduled, path.c_str(), outcome.scheduleError);
}

std::wstring ShortcutPath(const std::wstring& folder, const std::wstring& fileName) {
  return oxa::JoinPath(folder, fileName + L".lnk");
}

}  // namespace

ShortcutPlatform SystemShortcutPlatform() {
  std::chrono::milliseconds wait = kRetryWait;
  wchar_t text[8] = {};
  wchar_t* end = nullptr;
  if (GetEnvironmentVariableW(kRetryWaitVariable, text, 8) - 1 < 7) {
    // Only a shorter wait is taken: the variable cannot make a setup wait longer.
    const unsigned long shortened = std::wcstoul(text, &end, 10);
    if (*end == L'\0' && text[0] >= L'0' && text[0] <= L'9' && shortened < kRetryWait.count())
      wait = std::chrono::milliseconds(shortened);
  }
  return {[](int csidl) { return GetFolderPath(csidl, nullptr); }, &SystemAccountTypes(), wait};
}

ProductShortcuts::ProductShortcuts(const ShortcutSetup& setup, ShortcutPlatform platform)
    : setup_(setup), platform_(std::move(platform)) {}

// The lines of one all-users folder lookup.
struct ProductShortcuts::FolderLines {
  const wchar_t* cantGet;  // exception text
  const wchar_t* cantGetUnknown;
  const wchar_t* fromRegistry;
  const wchar_t* cantOpen;   // error
  const wchar_t* cantQuery;  // error
  const wchar_t* empty;      // null: none
};

bool ProductShortcuts::GetCommonFolder(int csidl, const wchar_t* valueName, const FolderLines& lines,
                                       std::wstring& folder) {
  LogSink* sink = setup_.sink;
  folder.clear();
  try {
    folder = platform_.folder(csidl);
  } catch (const std::exception& error) {
    LogLine(sink, kLogError, lines.cantGet, error.what());
  } catch (...) {
    LogLine(sink, kLogError, lines.cantGetUnknown);
  }
  if (!folder.empty()) return true;

  LogLine(sink, kLogInfo, lines.fromRegistry);
  ScopedRegKey shortcuts;
  if (!CheckSuccess(sink, shortcuts.Open(HKEY_LOCAL_MACHINE, setup_.keys[kShortcutsKey].c_str(), KEY_READ),
                    lines.cantOpen))
    return false;
  if (!CheckSuccess(sink, shortcuts.ReadString(valueName, StringPolicy::kSzOnly, folder), lines.cantQuery))
    return false;
  if (folder.empty() && lines.empty) LogLine(sink, kLogError, lines.empty);
  return !folder.empty();
}

bool ProductShortcuts::GetCommonDesktopFolder(std::wstring& folder) {
  static constexpr FolderLines kLines{
      L"GetCommonDesktopFolder: can't get common Desktop folder. Error: %S",
      L"GetCommonDesktopFolder: can't get common Desktop folder. Unexpected error occured.",
      L"GetCommonDesktopFolder: Try to get common Desktop folder from registry.",
      L"GetCommonDesktopFolder: can't open installer shortcuts key: 0x%08x",
      L"GetCommonDesktopFolder: can't query DesktopFolder value: 0x%08x",
      nullptr,
  };
  return GetCommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY, L"DesktopFolder", kLines, folder);
}

bool ProductShortcuts::GetCommonProgramsFolder(std::wstring& folder) {
  static constexpr FolderLines kLines{
      L"GetCommonProgramsFolder: can't get common programs folder. Error: %S",
      L"GetCommonProgramsFolder: can't get common programs folder. Unexpected error occured.",
      L"GetCommonProgramsFolder: try to get common programs folder from registry.",
      L"GetCommonProgramsFolder: can't open installer shortcuts key: 0x%08x",
      L"GetCommonProgramsFolders: can't query ProgramMenuFolder value: 0x%08x",
      L"GetCommonProgramsFolders: ProgramMenuFolder value is empty",
  };
  LogLine(setup_.sink, kLogInfo, L"GetCommonProgramsFolder: entry point");
  return GetCommonFolder(CSIDL_COMMON_PROGRAMS, L"ProgramMenuFolder", kLines, folder);
}

// The lines of one source folder below ProductRoot.
struct ProductShortcuts::SourceLines {
  const wchar_t* cantOpen;   // error
  const wchar_t* cantQuery;  // error
  const wchar_t* empty;
};

bool ProductShortcuts::GetShortcutFolders(bool desktop, const SourceLines& lines, std::wstring& source,
                                          std::wstring& destination) {
  LogSink* sink = setup_.sink;
  if (!(desktop ? GetCommonDesktopFolder(destination) : GetCommonProgramsFolder(destination))) return false;
  ScopedRegKey environment;
  if (!CheckSuccess(sink, environment.Open(HKEY_LOCAL_MACHINE, setup_.keys[kProductEnvironmentKey].c_str(), KEY_READ),
                    lines.cantOpen))
    return false;
  std::wstring root;
  if (!CheckSuccess(sink, environment.ReadString(L"ProductRoot", StringPolicy::kSzOnly, root), lines.cantQuery))
    return false;
  if (root.empty()) {
    LogLine(sink, kLogError, lines.empty);
    return false;
  }
  source = desktop ? oxa::JoinPath(root, L"Desktop") : oxa::JoinPath(root, L"StartMenu\\");
  return true;
}

bool ProductShortcuts::GetDesktopLnkFolders(std::wstring& source, std::wstring& destination) {
  static constexpr SourceLines kLines{
      L"GetDesktopLnkFolders: can't open environment key: 0x%08x",
      L"GetDesktopLnkFolders: can't query ProductRoot value: 0x%08x",
      L"GetDesktopLnkFolders: ProductRoot value is empty.",
  };
  return GetShortcutFolders(true, kLines, source, destination);
}

bool ProductShortcuts::GetStartMenuFolders(std::wstring& source, std::wstring& destination) {
  static constexpr SourceLines kLines{
      L"GetStartMenuFolders: can't open environment key: 0x%08x",
      L"GetStartMenuFolders: can't query ProductRoot value: 0x%08x",
      L"GetStartMenuFolders: ProductRoot value is empty",
  };
  LogLine(setup_.sink, kLogInfo, L"GetStartMenuFolders: entry point");
  return GetShortcutFolders(false, kLines, source, destination);
}

std::wstring ProductShortcuts::ReadShortcutName(const ScopedRegKey& shortcuts, const wchar_t* operation,
                                                const std::wstring& valueName) {
  LogSink* sink = setup_.sink;
  std::wstring fileName;
  if (!CheckSuccess(sink, shortcuts.ReadString(valueName.c_str(), StringPolicy::kSzOnly, fileName),
                    L"%ls: can't query value %ls: 0x%08x", operation, valueName.c_str()))
    return {};
  if (fileName.empty()) {
    LogLine(sink, kLogError, L"%ls: value %ls is empty", operation, valueName.c_str());
  } else if (!IsPlainFileName(fileName)) {
    // Joined to the folder, it would name a file elsewhere.
    LogLine(sink, kLogError, L"%ls: value %ls is not a file name: %ls", operation, valueName.c_str(), fileName.c_str());
    fileName.clear();
  } else {
    LogLine(sink, kLogInfo, L"%ls: LnkName '%ls' detected ", operation, fileName.c_str());
  }
  return fileName;
}

bool ProductShortcuts::CopyShortcuts(const std::wstring& source, const std::wstring& destination,
                                     const StringVector& names) {
  LogSink* sink = setup_.sink;
  ScopedRegKey shortcuts;
  if (!CheckSuccess(sink, shortcuts.Open(HKEY_LOCAL_MACHINE, setup_.keys[kShortcutsKey].c_str(), KEY_READ),
                    L"CopyShortcuts: can't open shortcuts registry key: 0x%08x"))
    return false;
  bool succeeded = true;
  for (const std::wstring& valueName : names) {
    const std::wstring fileName = ReadShortcutName(shortcuts, L"CopyShortcuts", valueName);
    if (fileName.empty()) {
      succeeded = false;
      continue;
    }
    const std::wstring from = ShortcutPath(source, fileName);
    const std::wstring to = ShortcutPath(destination, fileName);
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
      LogLine(sink, kLogError, L"CopyShortcuts: copying %ls to %ls failed: 0x%x", from.c_str(), to.c_str(),
              GetLastError());
      succeeded = false;
    }
  }
  return succeeded;
}

bool ProductShortcuts::RemoveShortcuts(const std::wstring& folder, const StringVector& names) {
  LogSink* sink = setup_.sink;
  ScopedRegKey shortcuts;
  if (!CheckSuccess(sink, shortcuts.Open(HKEY_LOCAL_MACHINE, setup_.keys[kShortcutsKey].c_str(), KEY_READ),
                    L"RemoveShortcuts: can't open shortcuts registry key: 0x%08x"))
    return false;
  SystemFiles files(platform_.retryWait);
  bool succeeded = true;
  for (const std::wstring& valueName : names) {
    // A name that is not declared has no shortcut to remove.
    const std::wstring fileName = ReadShortcutName(shortcuts, L"RemoveShortcuts", valueName);
    if (fileName.empty()) continue;
    const std::wstring path = ShortcutPath(folder, fileName);
    const RemovalOutcome outcome = RemoveFile(files, path, kRetriedRemoval);
    if (!outcome.Gone()) {
      LogLine(sink, kLogError, L"RemoveShortcuts: failed to remove shortcut %ls, delResult=%0x, moveResult=%0x",
              path.c_str(), outcome.deleteError, outcome.scheduleError);
      succeeded = false;
    } else {
      LogLine(sink, kLogInfo, L"RemoveShortcuts: LnkName '%ls' deleted.", fileName.c_str());
    }
  }
  return succeeded;
}

bool ProductShortcuts::CreateDesktopShortcuts() {
  LogSink* sink = setup_.sink;
  LogLine(sink, kLogInfo, L"Action start: CreateDesktopShortcuts.");
  std::wstring source;
  std::wstring destination;
  bool copied = GetDesktopLnkFolders(source, destination);
  if (copied) {
    LogLine(sink, kLogInfo, L"CreateDesktopShortcuts: copying %ls to %ls", source.c_str(), destination.c_str());
    copied = CopyShortcuts(source, destination, DesktopNames(setup_.features));
  }
  if (copied) {
    LogLine(sink, kLogInfo, L"Action ended : CreateDesktopShortcuts succeeded");
  } else {
    LogLine(sink, kLogError, L"Action ended : CreateDesktopShortcuts failed");
  }
  return true;
}

bool ProductShortcuts::ActivateStartMenu(const std::wstring& type) {
  LogSink* sink = setup_.sink;
  LogLine(sink, kLogInfo, L"ActivateStartMenu: entry point");
  std::wstring source;
  std::wstring destination;
  if (!GetStartMenuFolders(source, destination)) return false;
  LogLine(sink, kLogInfo, L"ActivateStartMenu: copying %ls to %ls, product type '%ls'", source.c_str(),
          destination.c_str(), type.c_str());
  return CopyShortcuts(source, destination, StartMenuNames());
}

bool ProductShortcuts::RemoveDesktopShortcuts() {
  LogSink* sink = setup_.sink;
  LogLine(sink, kLogInfo, L"Action start: RemoveDesktopShortcuts.");
  std::wstring folder;
  bool removed = GetCommonDesktopFolder(folder);
  if (removed) {
    LogLine(sink, kLogInfo, L"RemoveDesktopShortcuts: removing from %ls", folder.c_str());
    removed = RemoveShortcuts(folder, DesktopNames(setup_.features));
  }
  if (removed) {
    LogLine(sink, kLogInfo, L"Action ended : RemoveDesktopShortcuts succeeded");
  } else {
    LogLine(sink, kLogError, L"Action ended : RemoveDesktopShortcuts failed");
  }
  return true;
}

bool ProductShortcuts::RemoveStartMenuShortcuts() {
  std::wstring folder;
  return GetCommonProgramsFolder(folder) && RemoveShortcuts(folder, StartMenuNames());
}

bool ProductShortcuts::RemoveGuardedBankingDesktopShortcut() {
  static constexpr SingleRemovalLines kLines{
      L"RemoveGuardedBankingDesktopShortcut: LnkName '%ls' deleted.",
      L"RemoveGuardedBankingDesktopShortcut: Unable to delete '%ls': 0x%08X",
      L"RemoveGuardedBankingDesktopShortcut:  Unable to delete on reboot '%ls': 0x%08X",
  };
  LogSink* sink = setup_.sink;
  LogLine(sink, kLogInfo, L"Action start: RemoveGuardedBankingDesktopShortcut.");
  ScopedRegKey environment;
  if (!CheckSuccess(sink,
                    environment.Open(HKEY_LOCAL_MACHINE, setup_.keys[kProductEnvironmentKey].c_str(),
                                     KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY),
                    L"RemoveGuardedBankingDesktopShortcut: can't open environment key: 0x%08x"))
    return false;
  std::wstring path;
  if (!CheckSuccess(sink, environment.ReadString(kGuardedBankingValue, StringPolicy::kSzOnly, path),
                    L"RemoveGuardedBankingDesktopShortcut: can't get value %ls: 0x%08x", kGuardedBankingValue))
    return false;
  if (path.empty()) {
    LogLine(sink, kLogError, L"RemoveGuardedBankingDesktopShortcut: value %ls from key is empty.",
            kGuardedBankingValue);
  } else {
    LogLine(sink, kLogInfo, L"RemoveGuardedBankingDesktopShortcut: LnkName '%ls' detected ", path.c_str());
    RemoveOnce(sink, path, kLines);
  }
  if (const LONG deleted = environment.DeleteValue(kGuardedBankingValue); deleted != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"RemoveGuardedBankingDesktopShortcut:  Unable to delete value '%ls': 0x%08X",
            kGuardedBankingValue, deleted);
  } else {
    LogLine(sink, kLogInfo, L"RemoveGuardedBankingDesktopShortcut: value '%ls' deleted.", kGuardedBankingValue);
  }
  LogLine(sink, kLogInfo, L"Action ended : RemoveGuardedBankingDesktopShortcut succeeded");
  return true;
}

void ProductShortcuts::RemoveToasterShortcutOf(const ScopedRegKey& root, const UserProfile& profile) {
  static constexpr SingleRemovalLines kLines{
      L"LnkName '%ls' deleted.",
      L"Unable to delete '%ls': 0x%08X",
      L"Unable to delete on reboot '%ls': 0x%08X",
  };
  LogSink* sink = setup_.sink;
  const std::wstring keyPath = setup_.keys[kProductKey] + L"\\W8Toaster";
  ScopedRegKey toaster;
  if (!CheckSuccess(sink, root.OpenChild(keyPath.c_str(), KEY_READ, toaster), L"Can't open key %ls: 0x%08x",
                    keyPath.c_str()))
    return;
  std::wstring path;
  const LONG read = toaster.ReadString(kToasterValue, StringPolicy::kSzOnly, path);
  if (read != ERROR_SUCCESS || path.empty()) {
    LogLine(sink, kLogError, L"Can't get value %ls (is empty: %d) from key %ls: 0x%08x", kToasterValue,
            path.empty() ? 1 : 0, keyPath.c_str(), read);
    return;
  }
  // The user may write the value; the module may delete what the user may not.
  if (!IsShortcutBelow(path, profile.folder)) {
    LogLine(sink, kLogError, L"LnkName '%ls' in %ls is not a shortcut in the profile folder %ls", path.c_str(),
            keyPath.c_str(), profile.folder.c_str());
    return;
  }
  LogLine(sink, kLogInfo, L"LnkName '%ls' detected in %ls", path.c_str(), keyPath.c_str());
  RemoveOnce(sink, path, kLines);
}

bool ProductShortcuts::RemoveW8ToasterShortcut() {
  LogSink* sink = setup_.sink;
  LogLine(sink, kLogInfo, L"Action start: RemoveW8ToasterShortcut.");
  const oxa::TracerRef tracer = oxa::CreatePrefixedTracer(CreateLogSinkTracer(sink).get(), "[usr_hives]");
  try {
    WalkUserHives(tracer.get(), *platform_.accounts,
                  [&](const ScopedRegKey& root, const std::wstring&, const UserProfile& profile) {
                    RemoveToasterShortcutOf(root, profile);
                  });
  } catch (const oxa::Exception& error) {
    // Without the privileges no hive was loaded, and the other removals go on.
    LogLine(sink, kLogError, L"Action ended : RemoveW8ToasterShortcut failed: %ls", error.GetDescription().c_str());
    return false;
  }
  LogLine(sink, kLogInfo, L"Action ended : RemoveW8ToasterShortcut succeeded");
  return true;
}

bool ProductShortcuts::RemoveProductShortcuts(bool withToasterShortcut) {
  const bool desktop = RemoveDesktopShortcuts();
  const bool startMenu = RemoveStartMenuShortcuts();
  RemoveGuardedBankingDesktopShortcut();
  const bool toaster = !withToasterShortcut || RemoveW8ToasterShortcut();
  return desktop && startMenu && toaster;
}

// The lines of one main shortcut's icon change.
struct ProductShortcuts::IconLines {
  const wchar_t* operation;
  bool failsWithIcon;  // whether a failed SetShortcutIcon fails the change
};

bool ProductShortcuts::ChangeMainShortcutIcon(bool desktop, const IconLines& lines, const std::wstring& iconPath) {
  LogSink* sink = setup_.sink;
  const wchar_t* operation = lines.operation;
  LogLine(sink, kLogInfo, L"%ls: entry point.", operation);
  std::wstring folder;
  if (!(desktop ? GetCommonDesktopFolder(folder) : GetCommonProgramsFolder(folder))) return false;
  ScopedRegKey shortcuts;
  if (!CheckSuccess(sink, shortcuts.Open(HKEY_LOCAL_MACHINE, setup_.keys[kShortcutsKey].c_str(), KEY_READ),
                    L"%ls: can't open installer shortcuts key: 0x%08x", operation))
    return false;
  std::wstring fileName;
  if (!CheckSuccess(sink, shortcuts.ReadString(L"LaunchShortcutName", StringPolicy::kSzOnly, fileName),
                    L"%ls: can't query LaunchShortcutName value: 0x%08x", operation))
    return false;
  if (fileName.empty()) {
    LogLine(sink, kLogError, L"%ls: LaunchShortcutName value is empty", operation);
    return false;
  }
  if (!IsPlainFileName(fileName)) {
    LogLine(sink, kLogError, L"%ls: LaunchShortcutName value is not a file name: %ls", operation, fileName.c_str());
    return false;
  }
  const std::wstring shortcut = ShortcutPath(folder, fileName);
  LogLine(sink, kLogInfo, L"%ls: shortcut %s icon will be changed to %s", operation, shortcut.c_str(),
          iconPath.c_str());
  if (FAILED(SetShortcutIcon(sink, shortcut, iconPath))) {
    LogLine(sink, kLogError, L"%ls: failed to change shortcut %s icon to %s", operation, shortcut.c_str(),
            iconPath.c_str());
    return !lines.failsWithIcon;
  }
  LogLine(sink, kLogInfo, L"%ls: shortcut %s icon changed to %s", operation, shortcut.c_str(), iconPath.c_str());
  return true;
}

bool ProductShortcuts::ChangeDesktopMainShortcutIcon(const std::wstring& iconPath) {
  return ChangeMainShortcutIcon(true, {L"ChangeDesktopMainShortcutIcon", false}, iconPath);
}

bool ProductShortcuts::ChangeStartMenuMainShortcutIcon(const std::wstring& iconPath) {
  return ChangeMainShortcutIcon(false, {L"ChangeStartMenuMainShortcutIcon", true}, iconPath);
}

}  // namespace qvr
