// Registry flags written under each root, and the failures that stop them.
#include "Custom_Actions/qvrinst/installer.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using qvrtest::ReadDword;
using qvrtest::RecordingSink;
using qvrtest::ScopedKeyTree;
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Optional;

constexpr wchar_t kDeclarations[] = L"Installer\\registry";

// A product with features naming registry declarations.
class RegistryProduct {
 public:
  RegistryProduct() : product(TestName()) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
  }

  void Declare(const std::wstring& name, const std::wstring& text) {
    product.SetString(kDeclarations, name.c_str(), text);
  }
  void Feature(const std::wstring& name, const std::wstring& productTypes, const std::wstring& registry) {
    product.AddFeature(name, productTypes);
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
  const std::wstring own = L"Software\\QvrTest\\" + TestName();
  const ScopedKeyTree userTree(HKEY_CURRENT_USER, own, L"Software\\QvrTest");
  const ScopedKeyTree usersTree(HKEY_USERS, L".DEFAULT\\" + own, L".DEFAULT\\Software\\QvrTest");
  const ScopedKeyTree classesTree(HKEY_CLASSES_ROOT, L"QvrTest." + TestName());

  p.Declare(L"Lm", p.Below(L"Lm", L"On"));
  p.Declare(L"Cu", L"Root=HKCU|Key=" + own + L"|Name=Cu");
  p.Declare(L"Cr", L"Root=HKCR|Key=QvrTest." + TestName() + L"|Name=Cr");
  p.Declare(L"Hku", L"Root=HKU|Key=.DEFAULT\\" + own + L"|Name=Hku");
  p.Declare(L"Default", L"Key=" + p.FlagKey(L"a\\b\\c"));
  p.Declare(L"Off", p.Below(L"Off", L"Off"));
  // The longest name a declaration can have; a text that is no list and the
  // key's default value declare nothing, silently.
  const std::wstring longest(255, L'd');
  p.Declare(longest, L"Key=" + p.FlagKey(L"Long") + L"|Name=Long|Extra=ignored");
  p.Declare(L"NoEquals", L"Root=HKCR|Key");
  p.Declare(L"", L"");
  p.Feature(L"F1", L"vmobpc", L"Lm Cu Cr Hku Default NoEquals " + longest);

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  EXPECT_TRUE(sink.Has(L"ReadRegistry: registry Cu = Root=HKCU|Key=" + own + L"|Name=Cu"));
  EXPECT_FALSE(sink.Has(L"NoEquals"));
  ASSERT_TRUE(installer.ActivateRegistry(L"vmobpc"));

  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Lm"), L"On"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CURRENT_USER, own, L"Cu"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_CLASSES_ROOT, L"QvrTest." + TestName(), L"Cr"), Optional(1u));
  EXPECT_THAT(ReadDword(HKEY_USERS, L".DEFAULT\\" + own, L"Hku"), Optional(1u));
  // No Name: the key's default value; missing parents are created.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"a\\b\\c"), L""), Optional(1u));
  // Not requested: 0.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Off"), L"Off"), Optional(0u));
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"Long"), L"Long"), Optional(1u));

  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
  EXPECT_THAT(sink.Texts(qvr::kLogInfo),
              testing::IsSupersetOf(std::vector<std::wstring>{
                  L"ActivateRegistry: registry value Lm requested by feature F1",
                  L"WriteRegistry: setting value Off to not installed", L"WriteRegistry: setting value On to installed",
                  L"WriteRegistry: opened key " + own + L": -2147483647",
                  L"WriteRegistry: set value On installed for key " + p.FlagKey(L"Lm") + L": Result 0x00000000"}));
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
  EXPECT_FALSE(installer.ActivateRegistry(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"WriteRegistry: can't create key " + p.FlagKey(L"Locked") + L": 0x00000005"));
  // Written before the failure, not after it.
  EXPECT_THAT(ReadDword(HKEY_LOCAL_MACHINE, p.FlagKey(L"A"), L"A"), Optional(1u));
  EXPECT_FALSE(qvrtest::KeyExists(HKEY_LOCAL_MACHINE, p.FlagKey(L"C")));

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
}

}  // namespace
