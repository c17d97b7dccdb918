// The shortcut kind against a product of its own, whose all-users folders are folders of the test. The plan of names
// and paths and the order of removal attempts: resource_plans_test; the all-users folders, copies with and without
// PayGuardFeature, a shortcut in use and the icon path: shortcuts_test.sh.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// shlobj.h and objbase.h need the Windows types.
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <stdexcept>

#include "activators/shortcuts.h"
#include "platform/user_hives/account_type.h"
#include "tests/support/msi_session.h"
#include "tests/support/pending_renames.h"
#include "tests/support/recording_sink.h"
#include "tests/support/shell_links.h"
#include "tests/support/test_files.h"
#include "tests/support/test_product.h"

namespace {

using qvrtest::Exists;
using qvrtest::SinkLine;
using testing::Contains;
using testing::ElementsAre;
using testing::IsSupersetOf;

// A product whose shortcuts QVR (main) and PayGuard lie in its Desktop folder.
struct ShortcutProduct {
  ShortcutProduct() {
    product.SetString(L"Installer\\shortcuts", L"LaunchShortcutName", L"QVR");
    product.SetString(L"Installer\\shortcuts", L"PayGuardShortcutName", L"PayGuard");
    product.SetString(L"environment", L"ProductRoot", product.Folder() + L"\\");
    CreateDirectoryW((product.Folder() + L"\\Desktop").c_str(), nullptr);
    features[L"PayGuardFeature"].installed = true;
  }
  qvr::ProductShortcuts Shortcuts() { return qvr::ProductShortcuts({&sink, keys, features}, platform); }
  std::wstring Source(const wchar_t* relative) const { return product.Folder() + L"\\" + relative; }

  qvrtest::TestProduct product{qvrtest::TestName()};
  qvr::CommonRegKeys keys = qvr::DeriveCommonRegKeys(product.Key());
  qvrtest::TestFolder desktop{L"desktop"};
  qvrtest::TestFolder programs{L"programs"};
  qvrtest::RecordingSink sink;
  qvr::FeatureMap features;
  qvr::ShortcutPlatform platform{
      [this](int csidl) { return csidl == CSIDL_COMMON_DESKTOPDIRECTORY ? desktop.Path() : programs.Path(); },
      &qvr::SystemAccountTypes(), std::chrono::milliseconds(1)};
};

// Each name on its own: a missing shortcut fails its copy only, a name leading out of the folder (to the shortcut in
// the folder beside it) is refused, a shortcut already gone is not scheduled at the restart (one in use:
// shortcuts_test.sh), and the secure-banking value goes though its file is gone.
TEST(Shortcuts, EachNameOnItsOwn) {
  ShortcutProduct p;
  ASSERT_TRUE(qvrtest::MakeShortcut(p.Source(L"Desktop\\QVR.lnk"), L"C:\\windows\\notepad.exe"));
  EXPECT_TRUE(p.Shortcuts().CreateDesktopShortcuts());
  EXPECT_THAT(qvrtest::ListNames(p.desktop.Path()), ElementsAre(L"QVR.lnk"));
  EXPECT_THAT(p.sink.lines, IsSupersetOf({SinkLine{3, L"CopyShortcuts: copying " + p.Source(L"Desktop\\PayGuard.lnk") +
                                                          L" to " + p.desktop / L"PayGuard.lnk" + L" failed: 0x2"},
                                          SinkLine{3, L"Action ended : CreateDesktopShortcuts failed"}}));

  const std::wstring programsName = p.programs.Path().substr(p.programs.Path().rfind(L'\\') + 1);
  p.product.SetString(L"Installer\\shortcuts", L"PayGuardShortcutName", L"..\\" + programsName + L"\\QVR");
  ASSERT_TRUE(CopyFileW((p.desktop / L"QVR.lnk").c_str(), (p.programs / L"QVR.lnk").c_str(), FALSE));
  fs_test::PendingRenamesGuard pending;
  for (int run = 0; run < 2; ++run) EXPECT_TRUE(p.Shortcuts().RemoveDesktopShortcuts());
  EXPECT_THAT(qvrtest::ListNames(p.desktop.Path()), ElementsAre());
  EXPECT_TRUE(Exists(p.programs / L"QVR.lnk"));
  EXPECT_THAT(p.sink.Texts(), Contains(L"RemoveShortcuts: value PayGuardShortcutName is not a file name: ..\\" +
                                       programsName + L"\\QVR"));
  EXPECT_EQ(std::count(p.sink.lines.begin(), p.sink.lines.end(),
                       SinkLine{1, L"Action ended : RemoveDesktopShortcuts succeeded"}),
            2);

  p.product.SetString(L"environment", L"GuardedBankingShortcut", p.desktop / L"Gone.lnk");
  EXPECT_TRUE(p.Shortcuts().RemoveGuardedBankingDesktopShortcut());
  EXPECT_EQ(p.product.GetString(L"environment", L"GuardedBankingShortcut"), std::nullopt);
  EXPECT_THAT(p.sink.Texts(1), Contains(L"RemoveGuardedBankingDesktopShortcut: Unable to delete '" +
                                        p.desktop / L"Gone.lnk" + L"': 0x00000002"));
  EXPECT_TRUE(fs_test::PendingDeletionsIn(p.desktop.Path()).empty());
  EXPECT_FALSE(p.Shortcuts().RemoveGuardedBankingDesktopShortcut());
}

// Without the shell's folders the shortcuts key names them. The icon is set inside COM on a thread that has its own
// apartment already or none, which stays as it was.
TEST(Shortcuts, FoldersFromTheRegistryAndTheMainShortcutsIcon) {
  ShortcutProduct p;
  p.platform.folder = [](int csidl) -> std::wstring {
    if (csidl == CSIDL_COMMON_DESKTOPDIRECTORY) throw std::runtime_error("no shell folder");
    throw 1;
  };
  p.product.SetString(L"Installer\\shortcuts", L"DesktopFolder", p.desktop.Path());
  p.product.SetString(L"Installer\\shortcuts", L"ProgramMenuFolder", L"");
  ASSERT_TRUE(qvrtest::MakeShortcut(p.desktop / L"QVR.lnk", L"C:\\windows\\notepad.exe"));

  EXPECT_FALSE(p.Shortcuts().ChangeStartMenuMainShortcutIcon(L"C:\\icons\\a.ico"));
  EXPECT_THAT(p.sink.Texts(3),
              ElementsAre(L"GetCommonProgramsFolder: can't get common programs folder. Unexpected error occured.",
                          L"GetCommonProgramsFolders: ProgramMenuFolder value is empty"));
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_TRUE(p.Shortcuts().ChangeDesktopMainShortcutIcon(L"C:\\icons\\a.ico"));
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(qvrtest::ShortcutIcon(p.desktop / L"QVR.lnk"), L"C:\\icons\\a.ico,0");

  // A file that is no shortcut: its own line, and the desktop's change still counts as done.
  qvrtest::WriteAll(p.desktop / L"QVR.lnk", "not a shortcut");
  p.sink.lines.clear();
  EXPECT_TRUE(p.Shortcuts().ChangeDesktopMainShortcutIcon(L"C:\\icons\\b.ico"));
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // the scope's apartment has ended
  CoUninitialize();
  const std::wstring shortcut = p.desktop / L"QVR.lnk";
  EXPECT_THAT(
      p.sink.Texts(3),
      ElementsAre(
          L"GetCommonDesktopFolder: can't get common Desktop folder. Error: no shell folder",
          L"SetShortcutIcon:Warning! call persistFile->Load " + shortcut + L"  was unsuccessful. Error 0x80004005.",
          L"ChangeDesktopMainShortcutIcon: failed to change shortcut " + shortcut + L" icon to C:\\icons\\b.ico"));
}

}  // namespace
