// Registry flags written under each root, and the failures that stop them.
#include "Custom_Actions/qvrinst/installer.h"

#include "component/oxa/system/unique_handle.h"
#include "tests/support/msi_session.h"
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
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using testing::Optional;

constexpr wchar_t kDeclarations[] = L"Installer\\registry";


// The string SID of the account the tests run under.
std::wstring CurrentUserSid() {
  oxa::KernelHandle token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive());
  BYTE buffer[256];
  DWORD size = sizeof(buffer);
  GetTokenInformation(token.Get(), TokenUser, buffer, size, &size);
  wchar_t* text = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  const oxa::LocalMemory owner(text);
  return text ? text : L"";
}

// A product with features naming registry declarations.
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
  std::wstring FlagKey(const std::wstring& relative) const { return product.KeyOf(L"Flags\\" + relative); }
  std::wstring Below(const std::wstring& relative, const std::wstring& name) const {
    return L"Key=" + FlagKey(relative) + L"|Name=" + name;
  }

  TestProduct product;
};

// Which flags a type sets is the plan's (tested natively); this shows where
// and how they are written.
TEST(RegistryValues, FlagsWrittenUnderEachRoot) {
  RegistryProduct p;
  const std::wstring name = TestName();
  const ScopedKeyTree userTree(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Software\\QvrTest");
  const ScopedKeyTree classesTree(HKEY_CLASSES_ROOT, L"QvrTest." + name);
  const std::wstring hkuKey = CurrentUserSid() + L"\\Software\\QvrTest\\" + name + L"\\Users";
  ASSERT_FALSE(CurrentUserSid().empty());

  p.Declare(L"Lm", p.Below(L"Lm", L"On"));
  p.Declare(L"Cu", L"Root=HKCU|Key=Software\\QvrTest\\" + name + L"|Name=Cu");
  p.Declare(L"Cr", L"Root=HKCR|Key=QvrTest." + name + L"|Name=Cr");
  p.Declare(L"Hku", L"Root=HKU|Key=" + hkuKey + L"|Name=Hku");
  p.Declare(L"Lower", L"Root=hkcr|" + p.Below(L"Lower", L"Lower"));
  p.Declare(L"Default", L"Key=" + p.FlagKey(L"Default"));
  p.Declare(L"Deep", p.Below(L"a\\b\\c", L"Deep"));
  p.Declare(L"Off", p.Below(L"Off", L"Off"));
  p.product.SetString(L"Flags\\Off", L"Off", L"text");
  // The longest name a declaration can have; a text that is no list and the
  // key's default value declare nothing, silently.
  const std::wstring longest(255, L'd');
  p.Declare(longest, L"Key=" + p.FlagKey(L"Long") + L"|Name=Long|Extra=ignored");
  p.Declare(L"NoEquals", L"Root=HKCR|Key");
  p.Declare(L"", L"");
  p.Feature(L"F1", L"vmobpc", L"Lm Cu Cr Hku Lower Default Deep NoEquals " + longest);

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  EXPECT_TRUE(sink.Has(L"ReadRegistry: registry Cu = Root=HKCU|Key=Software\\QvrTest\\" + name + L"|Name=Cu"));
  EXPECT_FALSE(sink.Has(L"NoEquals"));
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
  sink.lines.clear();
  ASSERT_TRUE(installer.ActivateRegistry(L"vmobpc"));

  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Lm"), L"On"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Cu"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CLASSES_ROOT, L"QvrTest." + name, L"Cr"), Optional(1u));
  // HKU\<own SID> is the hive of HKEY_CURRENT_USER.
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name + L"\\Users", L"Hku"), Optional(1u));
  // A lower-case root is no recognised root: HKEY_LOCAL_MACHINE.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Lower"), L"Lower"), Optional(1u));
  EXPECT_FALSE(qvrtest::KeyExists(HKEY_CLASSES_ROOT, p.FlagKey(L"Lower")));
  // No Name: the key's default value; missing parents are created.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Default"), L""), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"a\\b\\c"), L"Deep"), Optional(1u));
  // Not requested: 0, over a value of another type.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Long"), L"Long"), Optional(1u));

  const auto info = sink.Texts(qvr::kLogInfo);
  EXPECT_THAT(info, Contains(L"ActivateRegistry: registry value Lm requested by feature F1"));
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key " + p.FlagKey(L"Lm") + L": -2147483646"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key Software\\QvrTest\\" + name + L": -2147483647"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key QvrTest." + name + L": -2147483648"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: opened key " + hkuKey + L": -2147483645"));
  EXPECT_THAT(info, Contains(L"WriteRegistry: set value On installed for key " + p.FlagKey(L"Lm") +
                             L": Result 0x00000000"));
  // Every record written in table order.
  std::vector<std::wstring> settings;
  for (const auto& text : info)
    if (text.rfind(L"WriteRegistry: setting value ", 0) == 0) settings.push_back(text.substr(29));
  EXPECT_THAT(settings, ElementsAre(L"Cr to installed", L"Cu to installed", L"Deep to installed", L" to installed",
                                    L"Hku to installed", L"On to installed", L"Lower to installed",
                                    L"Off to not installed", L"Long to installed"));

  ASSERT_TRUE(installer.DeactivateRegistry(L"vmobpc"));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Lm"), L"On"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, L"Software\\QvrTest\\" + name, L"Cu"), Optional(0u));
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

  // A value name over 16383 characters fails after the key was created.
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
