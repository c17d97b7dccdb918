// The shortcut kind against a product of its own, whose all-users folders are folders of the test: real shortcut
// files copied, removed (one held open, scheduled at the restart) and given another icon. The plan of names and
// paths and the order of removal attempts: resource_plans_test; the all-users folders themselves: shortcuts_test.sh.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// shlobj.h and objbase.h need the Windows types.
#include <objbase.h>
#include <shlobj.h>

#include <stdexcept>

#include "activators/shortcuts.h"
#include "component/oxa/system/unique_handle.h"
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

// A product whose shortcuts QVR (main) and PayGuard lie in its Desktop and StartMenu folders.
struct ShortcutProduct {
  ShortcutProduct() {
    product.CreateKey(L"Installer\\shortcuts");
    product.SetString(L"Installer\\shortcuts", L"LaunchShortcutName", L"QVR");
    product.SetString(L"Installer\\shortcuts", L"PayGuardShortcutName", L"PayGuard");
    product.SetString(L"environment", L"ProductRoot", product.Folder() + L"\\");
    CreateDirectoryW((product.Folder() + L"\\Desktop").c_str(), nullptr);
    CreateDirectoryW((product.Folder() + L"\\StartMenu").c_str(), nullptr);
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

TEST(Shortcuts, CopiedThenRemovedWithTheOneInUseScheduled) {
  ShortcutProduct p;
  const std::wstring target = L"C:\\windows\\notepad.exe";
  ASSERT_TRUE(qvrtest::MakeShortcut(p.Source(L"Desktop\\QVR.lnk"), target));
  ASSERT_TRUE(qvrtest::MakeShortcut(p.Source(L"StartMenu\\QVR.lnk"), target));
  // A missing shortcut fails only its own copy.
  EXPECT_TRUE(p.Shortcuts().CreateDesktopShortcuts());
  EXPECT_THAT(p.sink.lines, Contains(SinkLine{3, L"Action ended : CreateDesktopShortcuts failed"}));
  EXPECT_THAT(p.sink.lines, Contains(SinkLine{3, L"CopyShortcuts: copying " + p.Source(L"Desktop\\PayGuard.lnk") +
                                                     L" to " + p.desktop / L"PayGuard.lnk" + L" failed: 0x2"}));
  ASSERT_TRUE(qvrtest::MakeShortcut(p.Source(L"Desktop\\PayGuard.lnk"), target));
  p.sink.lines.clear();
  EXPECT_TRUE(p.Shortcuts().CreateDesktopShortcuts());
  EXPECT_THAT(p.sink.lines, Contains(SinkLine{1, L"Action ended : CreateDesktopShortcuts succeeded"}));
  EXPECT_TRUE(p.Shortcuts().ActivateStartMenu(L"vmobpc"));
  EXPECT_THAT(qvrtest::ListNames(p.desktop.Path()), ElementsAre(L"PayGuard.lnk", L"QVR.lnk"));
  EXPECT_EQ(qvrtest::ShortcutIcon(p.programs / L"QVR.lnk"), L",0");

  // A name that would lead out of the desktop folder (to the programs folder's shortcut) is not used.
  const std::wstring programsName = p.programs.Path().substr(p.programs.Path().rfind(L'\\') + 1);
  p.product.SetString(L"Installer\\shortcuts", L"PayGuardShortcutName", L"..\\" + programsName + L"\\QVR");
  fs_test::PendingRenamesGuard pending;
  {
    const oxa::FileHandle held(CreateFileW((p.desktop / L"QVR.lnk").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    p.sink.lines.clear();
    EXPECT_TRUE(p.Shortcuts().RemoveDesktopShortcuts());
  }
  EXPECT_THAT(fs_test::PendingDeletionsIn(p.desktop.Path()), ElementsAre(p.desktop / L"QVR.lnk"));
  EXPECT_TRUE(Exists(p.programs / L"QVR.lnk"));
  EXPECT_THAT(p.sink.lines,
              IsSupersetOf({SinkLine{1, L"RemoveShortcuts: LnkName 'QVR' deleted."},
                            SinkLine{3, L"RemoveShortcuts: value PayGuardShortcutName is not a file name: ..\\" +
                                            programsName + L"\\QVR"},
                            SinkLine{1, L"Action ended : RemoveDesktopShortcuts succeeded"}}));
  // Gone, and gone already: nothing is left to schedule.
  EXPECT_TRUE(p.Shortcuts().RemoveStartMenuShortcuts());
  EXPECT_TRUE(p.Shortcuts().RemoveStartMenuShortcuts());
  EXPECT_FALSE(Exists(p.programs / L"QVR.lnk"));
  EXPECT_TRUE(fs_test::PendingDeletionsIn(p.programs.Path()).empty());

  // The secure-banking shortcut's value goes whether its file was there or not.
  for (const wchar_t* name : {L"QVR.lnk", L"Gone.lnk"}) {
    p.product.SetString(L"environment", L"GuardedBankingShortcut", p.programs / name);
    p.sink.lines.clear();
    EXPECT_TRUE(p.Shortcuts().RemoveGuardedBankingDesktopShortcut());
    EXPECT_EQ(p.product.GetString(L"environment", L"GuardedBankingShortcut"), std::nullopt);
  }
  EXPECT_THAT(p.sink.lines, Contains(SinkLine{1, L"RemoveGuardedBankingDesktopShortcut: Unable to delete '" +
                                                     p.programs / L"Gone.lnk" + L"': 0x00000002"}));
  EXPECT_TRUE(fs_test::PendingDeletionsIn(p.programs.Path()).empty());
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
  EXPECT_THAT(p.sink.Texts(3),
              Contains(L"GetCommonDesktopFolder: can't get common Desktop folder. Error: no shell folder"));

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
