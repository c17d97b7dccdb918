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

// A hive file holding `keyPath` with the value LnkName = `lnkName`, made from a key of the test's own.
void SaveHive(const std::wstring& file, const std::wstring& keyPath, const std::wstring& lnkName) {
  const ScopedKeyTree source(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + qvrtest::TestName() + L".hive",
                             L"Software\\QvrTest");
  qvr::ScopedRegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, (source.Path() + L"\\" + keyPath).c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.WriteString(L"LnkName", lnkName), ERROR_SUCCESS);
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, source.Path().c_str(), KEY_READ), ERROR_SUCCESS);
  const qvr::ScopedPrivilegesAdjust backup(nullptr, {SE_BACKUP_NAME});
  ASSERT_EQ(RegSaveKeyW(key.Get(), file.c_str(), nullptr), ERROR_SUCCESS);
}

TEST(UserHives, EveryUsersToastShortcutThroughItsLoadedHive) {
  qvrtest::TestProduct product(qvrtest::TestName());
  const qvr::CommonRegKeys keys = qvr::DeriveCommonRegKeys(product.Key());
  const std::wstring toaster = product.Key() + L"\\W8Toaster";
  // The prefix's user names a shortcut outside its profile folder, which stays.
  const ScopedKeyTree ownProduct(HKEY_CURRENT_USER, product.Key(), L"Software\\QvrTest");
  ASSERT_EQ(qvr::ScopedRegKey().Create(HKEY_CURRENT_USER, toaster.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  qvr::ScopedRegKey own;
  ASSERT_EQ(own.Open(HKEY_CURRENT_USER, toaster.c_str(), KEY_SET_VALUE), ERROR_SUCCESS);
  ASSERT_EQ(own.WriteString(L"LnkName", L"C:\\users\\root\\..\\Public\\Toast.lnk"), ERROR_SUCCESS);

  qvrtest::TestFolder folder(L"hives");
  for (const wchar_t* user : {L"saved", L"held"}) CreateDirectoryW((folder / user).c_str(), nullptr);
  const std::wstring toast = folder / L"saved\\Toast.lnk";
  qvrtest::WriteAll(toast, "shortcut");
  SaveHive(folder / L"saved\\ntuser.dat", toaster, toast);
  ASSERT_TRUE(CopyFileW((folder / L"saved\\ntuser.dat").c_str(), (folder / L"held\\ntuser.dat").c_str(), FALSE));
  const oxa::FileHandle held(
      CreateFileW((folder / L"held\\ntuser.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  // The saved profile's folder through an environment reference.
  SetEnvironmentVariableW(L"QVRTEST_HIVES", folder.Path().c_str());
  std::vector<std::unique_ptr<ScopedKeyTree>> profiles;
  const std::pair<const wchar_t*, std::wstring> declared[] = {
      {kSaved, L"%QVRTEST_HIVES%\\saved"}, {kHeld, folder / L"held"}, {kGroup, L"C:\\users\\group"}, {kNoSid, L""}};
  for (const auto& [sid, text] : declared) {
    profiles.push_back(std::make_unique<ScopedKeyTree>(HKEY_LOCAL_MACHINE, kProfileList + std::wstring(sid)));
    qvr::ScopedRegKey profile;
    ASSERT_EQ(profile.Create(HKEY_LOCAL_MACHINE, profiles.back()->Path().c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
    RegSetValueExW(profile.Get(), L"ProfileImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
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
          {3, L"LnkName 'C:\\users\\root\\..\\Public\\Toast.lnk' in " + toaster +
                  L" is not a shortcut in the profile folder C:\\users\\root"},
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
