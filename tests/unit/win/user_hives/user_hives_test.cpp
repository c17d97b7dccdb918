// The user-hive walk through RemoveW8ToasterShortcut, with profiles the test declares in ProfileList: one whose hive
// file the test saved (loaded for its step and unloaded after), one whose hive file is held open, one of a group,
// one that is no identifier, beside the prefix's own user, whose hive is loaded already. Only the prefix's user is an
// account of the system, so the test tells the walk the types of its own profiles.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "activators/shortcuts.h"
#include "component/oxa/system/unique_handle.h"
#include "platform/user_hives/account_type.h"
#include "platform/util/privileges.h"
#include "platform/util/scoped_reg_key.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_files.h"
#include "tests/support/test_product.h"

namespace {

using qvrtest::ScopedKeyTree;
using testing::IsSupersetOf;

constexpr wchar_t kProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kSaved[] = L"S-1-5-21-7-7-7-1001";
constexpr wchar_t kHeld[] = L"S-1-5-21-7-7-7-1002";
constexpr wchar_t kGroup[] = L"S-1-5-21-7-7-7-1003";
constexpr wchar_t kNoSid[] = L"QvrTest-no-sid";

class DeclaredAccounts final : public qvr::AccountTypes {
 public:
  oxa::ResultCode Lookup(oxa::ITracer* tracer, const std::wstring& sid, SID_NAME_USE& type) override {
    if (sid == kSaved || sid == kHeld) type = SidTypeUser;
    if (sid == kGroup) type = SidTypeGroup;
    return sid == kSaved || sid == kHeld || sid == kGroup ? oxa::rc::Ok : qvr::GetAccountType(tracer, sid, type);
  }
};

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  ASSERT_EQ(RegSetKeyValueW(root, key.c_str(), name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
}

TEST(UserHives, EveryUsersToastShortcutThroughItsLoadedHive) {
  qvrtest::TestProduct product(qvrtest::TestName());
  const qvr::CommonRegKeys keys = qvr::DeriveCommonRegKeys(product.Key());
  const std::wstring toaster = product.Key() + L"\\W8Toaster";
  // The prefix's user names a shortcut outside its profile folder, which stays.
  const std::wstring own =
      qvrtest::ReadSz(HKEY_LOCAL_MACHINE, kProfileList + std::wstring(L"S-1-5-21-0-0-0-1000"), L"ProfileImagePath")
          .value_or(L"");
  const ScopedKeyTree ownProduct(HKEY_CURRENT_USER, product.Key(), L"Software\\QvrTest");
  SetString(HKEY_CURRENT_USER, toaster, L"LnkName", own + L"\\..\\Public\\Toast.lnk");

  // The saved hive, made from a key of the test's own, names a shortcut of its user's profile folder.
  qvrtest::TestFolder folder(L"hives");
  for (const wchar_t* user : {L"saved", L"held"}) CreateDirectoryW((folder / user).c_str(), nullptr);
  const std::wstring toast = folder / L"saved\\Toast.lnk";
  qvrtest::WriteAll(toast, "shortcut");
  {
    const ScopedKeyTree source(HKEY_CURRENT_USER, product.Key() + L".hive", L"Software\\QvrTest");
    SetString(HKEY_CURRENT_USER, source.Path() + L"\\" + toaster, L"LnkName", toast);
    qvr::ScopedRegKey hive;
    ASSERT_EQ(hive.Open(HKEY_CURRENT_USER, source.Path().c_str(), KEY_READ), ERROR_SUCCESS);
    const qvr::ScopedPrivilegesAdjust backup(nullptr, {SE_BACKUP_NAME, SE_RESTORE_NAME});
    RegUnLoadKeyW(HKEY_USERS, kSaved);  // left loaded by a run that ended before it was unloaded
    ASSERT_EQ(RegSaveKeyW(hive.Get(), (folder / L"saved\\ntuser.dat").c_str(), nullptr), ERROR_SUCCESS);
  }
  ASSERT_TRUE(CopyFileW((folder / L"saved\\ntuser.dat").c_str(), (folder / L"held\\ntuser.dat").c_str(), FALSE));
  const oxa::FileHandle held(
      CreateFileW((folder / L"held\\ntuser.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  // The saved profile's folder through an environment reference.
  SetEnvironmentVariableW(L"QVRTEST_HIVES", folder.Path().c_str());
  std::vector<std::unique_ptr<ScopedKeyTree>> profiles;
  const std::pair<const wchar_t*, std::wstring> declared[] = {{kSaved, L"%QVRTEST_HIVES%\\saved"},
                                                              {kHeld, folder / L"held"},
                                                              {kGroup, L"C:\\users\\group"},
                                                              {kNoSid, L"C:\\x"}};
  for (const auto& [sid, path] : declared) {
    profiles.push_back(std::make_unique<ScopedKeyTree>(HKEY_LOCAL_MACHINE, kProfileList + std::wstring(sid)));
    SetString(HKEY_LOCAL_MACHINE, profiles.back()->Path(), L"ProfileImagePath", path, REG_EXPAND_SZ);
  }

  qvrtest::RecordingSink sink;
  const qvr::FeatureMap features;
  DeclaredAccounts accounts;
  qvr::ShortcutPlatform platform = qvr::SystemShortcutPlatform();
  platform.accounts = &accounts;
  EXPECT_TRUE(qvr::ProductShortcuts({&sink, keys, features}, platform).RemoveW8ToasterShortcut());
  SetEnvironmentVariableW(L"QVRTEST_HIVES", nullptr);

  EXPECT_FALSE(qvrtest::Exists(toast));
  EXPECT_FALSE(qvrtest::KeyExists(HKEY_USERS, kSaved));  // unloaded
  EXPECT_TRUE(qvrtest::KeyExists(HKEY_USERS, L"S-1-5-21-0-0-0-1000"));
  const std::wstring reg = L"Custom_Actions/COMMON/reg_users_action:";
  EXPECT_THAT(
      sink.lines,
      IsSupersetOf<qvrtest::SinkLine>({
          {1, L"Action start: RemoveW8ToasterShortcut."},
          {1, L"[usr_hives]\t[priv_adjust]\tAdjust privileges [SeBackupPrivilege,SeRestorePrivilege,], attr: 2"},
          {1, L"[usr_hives]\tUse already loaded profile S-1-5-21-0-0-0-1000"},
          {3, L"LnkName '" + own + L"\\..\\Public\\Toast.lnk' in " + toaster +
                  L" is not a shortcut in the profile folder " + own},
          {1, L"[usr_hives]\tUse profile " + std::wstring(kSaved)},
          {1, L"LnkName '" + toast + L"' detected in " + toaster},
          {1, L"LnkName '" + toast + L"' deleted."},
          {1, L"[usr_hives]\tProfile hive " + std::wstring(kHeld) + L" load failed, err: 0x80010104"},
          {1, L"[usr_hives]\tSkip not user profile " + std::wstring(kGroup)},
          {1, L"[usr_hives]\tFailed convert profile sid QvrTest-no-sid, err: 0x80070539"},
          {1, L"[usr_hives]\t" + reg +
                  L"106(GetAccountType(subKeyName, sidType)),(OXA_SUCCEEDED(_result)) failed: result = 0x80070539 "
                  L"(Unknown result code)Failed to obtain account type"},
          {1, L"Action ended : RemoveW8ToasterShortcut succeeded"},
      }));
}

}  // namespace
