// Registry flags of the features: declarations read at Initialize, flags
// written under each root by ActivateRegistry and DeactivateRegistry, and
// the failures that stop them.
#include "Custom_Actions/qvrinst/installer.h"

#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

namespace {

using qvrtest::ReadDword;
using qvrtest::RecordingSink;
using qvrtest::ScopedKeyTree;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using testing::Optional;

constexpr wchar_t kDeclarations[] = L"Installer\\registry";

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

// The string SID of the account the tests run under, whose hive is loaded
// under HKEY_USERS.
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = sizeof(buffer);
  GetTokenInformation(token, TokenUser, buffer, size, &size);
  CloseHandle(token);
  wchar_t* text = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  std::wstring sid = text ? text : L"";
  LocalFree(text);
  return sid;
}

// A product whose declaration keys exist, with one feature per call of
// Feature() naming registry declarations.
class RegistryProduct {
 public:
  RegistryProduct() : product(TestName()) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
  }

  void Declare(const std::wstring& name, const std::wstring& text) { product.SetString(kDeclarations, name.c_str(), text); }
  void Feature(const std::wstring& name, const std::wstring& productTypes, const std::wstring& registry,
               bool installed = true) {
    product.AddFeature(name, productTypes, installed);
    product.SetString(L"Installer\\features\\" + name, L"Registry", registry);
  }
  // A key path below the product key, for flags that the test removes with it.
  std::wstring FlagKey(const std::wstring& relative) const { return product.KeyOf(L"Flags\\" + relative); }
  // A declaration of a flag below the product key.
  std::wstring Below(const std::wstring& relative, const std::wstring& name) const {
    return L"Key=" + FlagKey(relative) + L"|Name=" + name;
  }

  TestProduct product;
};

TEST(RegistryValues, Declarations) {
  RegistryProduct p;
  p.Declare(L"Full", L"Root=HKCU|Key=Software\\QvrTest\\x|Name=Flag|Extra=ignored");
  p.Declare(L"NoRoot", L" ;Key=Software\\x|Name=Flag|");
  p.Declare(L"NoName", L"Root=HKU|Key=k");
  p.Declare(L"NoEquals", L"Root=HKCR|Key");
  p.Declare(L"Spaced", L"Root =HKCR|Key=a b|Name= n ");
  p.product.SetString(kDeclarations, L"", L"");  // the key's default value declares nothing
  const std::wstring longest(255, L'd');
  p.Declare(longest, L"Name=long");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  const auto& table = installer.Registry().Table();
  ASSERT_EQ(table.size(), 5u);
  EXPECT_FALSE(table.count(L"NoEquals"));  // left out silently, the others read

  const auto& full = table.at(L"Full");
  EXPECT_EQ(full.root, L"HKCU");
  EXPECT_EQ(full.key, L"Software\\QvrTest\\x");
  EXPECT_EQ(full.name, L"Flag");
  EXPECT_FALSE(full.installed);
  EXPECT_EQ(table.at(L"NoRoot").root, L"");
  EXPECT_EQ(table.at(L"NoRoot").key, L"Software\\x");
  EXPECT_EQ(table.at(L"NoName").name, L"");
  // "Root " is not "Root"; values keep their blanks.
  EXPECT_EQ(table.at(L"Spaced").root, L"");
  EXPECT_EQ(table.at(L"Spaced").name, L" n ");
  EXPECT_EQ(table.at(longest).name, L"long");

  EXPECT_THAT(sink.Texts(qvr::kLogInfo),
              Contains(L"ReadRegistry: registry Full = Root=HKCU|Key=Software\\QvrTest\\x|Name=Flag|Extra=ignored"));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), Contains(L"ReadRegistry: registry NoRoot =  ;Key=Software\\x|Name=Flag|"));
  EXPECT_FALSE(sink.Has(L"NoEquals"));
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
}

TEST(RegistryValues, ReaderFailures) {
  RecordingSink sink;
  {
    TestProduct product(TestName());
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, product.KeyOf(kDeclarations).c_str());
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ReadRegistry: can't open registry key: 0x00000002"));
  }
  // Each bad declaration ends the reading; the ones before it stay read.
  struct Case {
    DWORD type;
    std::wstring name;
    std::wstring text;
    std::wstring line;
  };
  const std::vector<Case> cases = {
      {REG_SZ, L"Bad", L"", L"ReadRegistry: can't query value Bad is empty"},
      {REG_EXPAND_SZ, L"Bad", L"Key=k", L"ReadRegistry: can't query value Bad: 0x0000065d"},
      {REG_SZ, std::wstring(256, L'b'), L"Key=k", L"ReadRegistry: can't enum registry key: 0x000000ea"},
  };
  for (const auto& c : cases) {
    RegistryProduct p;
    p.Declare(L"A", L"Key=k|Name=a");
    p.product.SetString(kDeclarations, c.name.c_str(), c.text, c.type);
    sink.lines.clear();
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr)) << c.line;
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(c.line));
    EXPECT_THAT(installer.Registry().Table(), ElementsAre(testing::Key(L"A")));
  }
  {
    RegistryProduct p;
    p.product.SetDword(kDeclarations, L"Dword", 1);
    sink.lines.clear();
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ReadRegistry: can't query value Dword: 0x0000065d"));
  }
}

TEST(RegistryValues, FlagsOfQualifyingFeatures) {
  RegistryProduct p;
  const std::wstring name = TestName();
  const ScopedKeyTree userTree(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Software\\QvrTest");
  const ScopedKeyTree classesTree(HKEY_CLASSES_ROOT, L"QvrTest." + name);
  const std::wstring hkuKey = CurrentUserSid() + L"\\Software\\QvrTest\\" + name + L"\\Users";
  ASSERT_FALSE(CurrentUserSid().empty());

  p.Declare(L"Both", p.Below(L"Both", L"On"));
  p.Declare(L"Cu", L"Root=HKCU|Key=Software\\QvrTest\\" + name + L"|Name=Cu");
  p.Declare(L"Cr", L"Root=HKCR|Key=QvrTest." + name + L"|Name=Cr");
  p.Declare(L"Hku", L"Root=HKU|Key=" + hkuKey + L"|Name=Hku");
  p.Declare(L"Lower", L"Root=hkcr|" + p.Below(L"Lower", L"Lower"));
  p.Declare(L"Default", L"Key=" + p.FlagKey(L"Default"));
  p.Declare(L"Deep", p.Below(L"a\\b\\c", L"Deep"));
  p.Declare(L"KisOnly", p.Below(L"Kis", L"Kis"));
  p.Declare(L"Off", p.Below(L"Off", L"Off"));
  p.Declare(L"Replaced", p.Below(L"Replaced", L"Replaced"));
  p.product.SetString(L"Flags\\Replaced", L"Replaced", L"text");

  p.Feature(L"F1", L"vmobpc", L"Both Cu Cr Undeclared Deep");
  p.Feature(L"F2", L"kis vmobpc", L"Both Hku Lower Default KisOnly");
  p.Feature(L"F3", L"vmobpc", L"Off Replaced", false);
  p.Feature(L"F4", L"VMOBPC kis", L"Off Replaced");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  sink.lines.clear();
  ASSERT_TRUE(installer.ActivateRegistry(L"vmobpc"));

  const std::wstring flags = p.FlagKey(L"");
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Both"), L"On"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Cu"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CLASSES_ROOT, L"QvrTest." + name, L"Cr"), Optional(1u));
  // HKU\<own SID> is the hive of HKEY_CURRENT_USER.
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name + L"\\Users", L"Hku"), Optional(1u));
  // A lower-case root is no recognised root: HKEY_LOCAL_MACHINE.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Lower"), L"Lower"), Optional(1u));
  EXPECT_FALSE(qvrtest::KeyExists(HKEY_CLASSES_ROOT, p.FlagKey(L"Lower")));
  // No Name: the key's default value.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Default"), L""), Optional(1u));
  // Missing parents are created.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"a\\b\\c"), L"Deep"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Kis"), L"Kis"), Optional(1u));
  // Named only by a feature that is not installed or meant for other types:
  // written as 0, a value of another type replaced.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Replaced"), L"Replaced"), Optional(0u));

  // One line per naming feature; the undeclared name is skipped silently.
  const auto info = sink.Texts(qvr::kLogInfo);
  EXPECT_EQ(std::count(info.begin(), info.end(), L"ActivateRegistry: registry value Both requested by feature F1"), 1);
  EXPECT_EQ(std::count(info.begin(), info.end(), L"ActivateRegistry: registry value Both requested by feature F2"), 1);
  EXPECT_FALSE(sink.Has(L"Undeclared"));
  EXPECT_FALSE(sink.Has(L"by feature F3"));
  EXPECT_FALSE(sink.Has(L"by feature F4"));
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
  // Every record written in table order, each with its four lines.
  EXPECT_THAT(info, Contains(L"WriteRegistry: setting value On to installed"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: setting value Off to not installed"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key " + p.FlagKey(L"Both") + L": -2147483646"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key Software\\QvrTest\\" + name + L": -2147483647"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key QvrTest." + name + L": -2147483648"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key " + hkuKey + L": -2147483645"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: set value On installed for key " + p.FlagKey(L"Both") +
                             L": Result 0x00000000"));
  std::vector<std::wstring> settings;
  for (const auto& text : info)
    if (text.rfind(L"WriteRegistry: setting value ", 0) == 0) settings.push_back(text);
  EXPECT_THAT(settings, ElementsAre(L"WriteRegistry: setting value On to installed",
                                    L"WriteRegistry: setting value Cr to installed",
                                    L"WriteRegistry: setting value Cu to installed",
                                    L"WriteRegistry: setting value Deep to installed",
                                    L"WriteRegistry: setting value  to installed",
                                    L"WriteRegistry: setting value Hku to installed",
                                    L"WriteRegistry: setting value Kis to installed",
                                    L"WriteRegistry: setting value Lower to installed",
                                    L"WriteRegistry: setting value Off to not installed",
                                    L"WriteRegistry: setting value Replaced to not installed"));

  // Activating another type clears what it does not name.
  ASSERT_TRUE(installer.ActivateRegistry(L"kis"));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Both"), L"On"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Cu"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(1u));

  // Deactivating vmobpc clears the flags its features name and keeps the
  // others (Off, named for kis by F4 only).
  sink.lines.clear();
  ASSERT_TRUE(installer.DeactivateRegistry(L"vmobpc"));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Both"), L"On"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Kis"), L"Kis"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(1u));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), Contains(L"DeactivateRegistry: registry value Both requested by feature F2"));
  EXPECT_FALSE(sink.Has(L"DeactivateRegistry: registry value Off"));

  // A new object starts with every flag clear: its deactivation writes 0 to all.
  qvr::Installer fresh;
  ASSERT_TRUE(fresh.Initialize(nullptr, nullptr, nullptr));
  ASSERT_TRUE(fresh.DeactivateRegistry(L"kis"));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(0u));
}

TEST(RegistryValues, EmptyTypeMatchesFeaturesWithoutTypes) {
  RegistryProduct p;
  p.Declare(L"Untyped", p.Below(L"Untyped", L"Untyped"));
  p.Declare(L"Typed", p.Below(L"Typed", L"Typed"));
  p.product.SetString(L"Installer\\features\\NoTypes", L"Registry", L"Untyped");
  p.Feature(L"Typed", L"kis", L"Typed");
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(nullptr, L"", nullptr));
  ASSERT_TRUE(installer.ActivateRegistry(L""));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Untyped"), L"Untyped"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Typed"), L"Typed"), Optional(0u));

  // Without declarations there is nothing to write.
  RecordingSink sink;
  TestProduct empty(TestName() + L".empty");
  empty.CreateDeclarationKeys();
  qvr::Installer none;
  ASSERT_TRUE(none.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();
  EXPECT_TRUE(none.ActivateRegistry(L"kis"));
  EXPECT_TRUE(none.DeactivateRegistry(L"kis"));
  EXPECT_THAT(sink.lines, IsEmpty());
}

TEST(RegistryValues, WriteFailuresStopAtTheFailingDeclaration) {
  RegistryProduct p;
  const qvrtest::ScopedKeyLock lock(HKEY_LOCAL_MACHINE, p.FlagKey(L"Locked"));
  ASSERT_TRUE(lock.Locked());
  p.Declare(L"A", p.Below(L"A", L"A"));
  p.Declare(L"B", p.Below(L"Locked", L"B"));
  p.Declare(L"C", p.Below(L"C", L"C"));
  p.Declare(L"D", p.Below(L"D", std::wstring(16384, L'n')));
  p.Feature(L"F", L"kis", L"A B C D");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();
  EXPECT_FALSE(installer.ActivateRegistry(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"WriteRegistry: can't create key " + p.FlagKey(L"Locked") + L": 0x00000005"));
  // Written before the failure, not after it.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"A"), L"A"), Optional(1u));
  EXPECT_FALSE(qvrtest::KeyExists(HKEY_LOCAL_MACHINE, p.FlagKey(L"C")));
  EXPECT_FALSE(sink.Has(L"WriteRegistry: opened key " + p.FlagKey(L"Locked")));

  // A value name the registry refuses (longer than 16383 characters) fails
  // after the key was created.
  p.product.DeleteValue(kDeclarations, L"B");
  qvr::Installer second;
  ASSERT_TRUE(second.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();
  EXPECT_FALSE(second.DeactivateRegistry(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"WriteRegistry: can't set value installed for key " + p.FlagKey(L"D") + L": 0x00000057"));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"A"), L"A"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"C"), L"C"), Optional(0u));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), Not(Contains(testing::HasSubstr(L"Result 0x00000057"))));
}

}  // namespace
