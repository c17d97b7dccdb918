// Shortcuts: the product's ready-made shortcut files (ProductRoot\Desktop,
// ProductRoot\StartMenu) copied to the all-users desktop and programs
// folder, removed again together with those that the product's
// secure-banking and toast components made, and the icon of the main
// shortcut. The kind keeps no table: every operation reads the shortcuts
// key again. The plan (which names, which paths may be touched) is
// Win32-free (shortcuts_plan.cpp).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"
#include "platform/product_info/common_reg_keys.h"

namespace qvr {

class AccountTypes;
class LogSink;
class ScopedRegKey;
struct UserProfile;

// What a shortcut operation acts on.
struct ShortcutSetup {
  LogSink* sink;
  const CommonRegKeys& keys;
  const FeatureMap& features;
};

// What the platform supplies; tests replace parts of it.
struct ShortcutPlatform {
  // The path of a CSIDL folder as the shell gives it; throws when it cannot.
  std::function<std::wstring(int csidl)> folder;
  AccountTypes* accounts;
  // Between the attempts to delete a shortcut in use.
  std::chrono::milliseconds retryWait;
};

// The shell, the system's accounts and a wait of one second, which the
// environment variable QVR_SHORTCUT_RETRY_MS (0 to 1000) may shorten for
// tests.
ShortcutPlatform SystemShortcutPlatform();

class ProductShortcuts {
 public:
  ProductShortcuts(const ShortcutSetup& setup, ShortcutPlatform platform = SystemShortcutPlatform());

  // The value names of the shortcuts key whose shortcuts go to the desktop:
  // LaunchShortcutName, and PayGuardShortcutName while PayGuardFeature is
  // installed (a missing feature is not).
  static StringVector DesktopNames(const FeatureMap& features);
  // The start menu's: LaunchShortcutName.
  static StringVector StartMenuNames();
  // Whether a shortcut's file name names a file of the folder it is joined
  // to: not empty, no separator, drive, stream or wildcard, not "." or "..".
  static bool IsPlainFileName(const std::wstring& name);
  // Whether `path` is a .lnk file below `folder` (both drive-absolute),
  // spelled without "." or ".." components (ASCII letters compared without
  // case).
  static bool IsShortcutBelow(const std::wstring& path, const std::wstring& folder);

  // The steps of the activation sequences (mode bit 4); their results are
  // not used there.
  bool ActivateStartMenu(const std::wstring& type);
  bool CreateDesktopShortcuts();
  // The desktop's and start menu's shortcuts, the secure-banking one and,
  // when `withToasterShortcut`, each user's toast shortcut. True when the
  // first two (and the toast removal when it ran) succeeded.
  bool RemoveProductShortcuts(bool withToasterShortcut);
  // The main shortcut's icon; the start menu's fails when the icon cannot be
  // set, the desktop's only when its shortcut cannot be named.
  bool ChangeDesktopMainShortcutIcon(const std::wstring& iconPath);
  bool ChangeStartMenuMainShortcutIcon(const std::wstring& iconPath);

  // The parts, by the names their lines carry.
  bool GetCommonDesktopFolder(std::wstring& folder);
  bool GetCommonProgramsFolder(std::wstring& folder);
  bool GetDesktopLnkFolders(std::wstring& source, std::wstring& destination);
  bool GetStartMenuFolders(std::wstring& source, std::wstring& destination);
  bool CopyShortcuts(const std::wstring& source, const std::wstring& destination, const StringVector& names);
  bool RemoveShortcuts(const std::wstring& folder, const StringVector& names);
  bool RemoveDesktopShortcuts();
  bool RemoveStartMenuShortcuts();
  bool RemoveGuardedBankingDesktopShortcut();
  bool RemoveW8ToasterShortcut();

 private:
  struct FolderLines;
  struct SourceLines;
  struct IconLines;
  bool GetCommonFolder(int csidl, const wchar_t* valueName, const FolderLines& lines, std::wstring& folder);
  bool GetShortcutFolders(bool desktop, const SourceLines& lines, std::wstring& source, std::wstring& destination);
  // The file name in value `valueName` of the shortcuts key; empty, after a
  // level-3 line of `operation`, when it cannot be used.
  std::wstring ReadShortcutName(const ScopedRegKey& shortcuts, const wchar_t* operation, const std::wstring& valueName);
  bool ChangeMainShortcutIcon(bool desktop, const IconLines& lines, const std::wstring& iconPath);
  void RemoveToasterShortcutOf(const ScopedRegKey& root, const UserProfile& profile);

  ShortcutSetup setup_;
  ShortcutPlatform platform_;
};

}  // namespace qvr
