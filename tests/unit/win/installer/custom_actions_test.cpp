// The exported custom actions in a real installer session: the records and
// lines they write, what CustomActionData makes of the activation mode, and
// what the rollback and the deactivation do with the stored product type.
#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using installer_test::QvrinstModule;
using qvrtest::AnyMatch;
using qvrtest::EndRecord;
using qvrtest::FullMatch;
using qvrtest::kLinePrefix;
using qvrtest::MsiSession;
using qvrtest::Printable;
using qvrtest::StartRecord;
using qvrtest::TestName;

constexpr UINT kInstallFailure = 1603;

// Each key by its bit, so that no two are swapped; blanks in values and
// keys (the parser's own test leaves them to this one). The records around
// the line: custom_action_data_test.sh. Without ProductInfoDLL there is no
// product to take the profiles from: the activation fails after its
// parameter line.
TEST(CustomActions, ActivationModeFromCustomActionData) {
  QvrinstModule module;
  const struct {
    const wchar_t* data;
    const char* parameters;
  } cases[] = {
      {nullptr, "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0"},
      {L"ProductType=vmobpc|Files=1",
       "ProductType=vmobpc, Files=1, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=4"},
      {L"Registry=1", "ProductType=, Files=, Registry=1, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=2"},
      {L"Plugins=1", "ProductType=, Files=, Registry=, Plugins=1, ProtocolHandlers=, ProfilesActivation=, mode=1"},
      {L"ProtocolHandlers=1",
       "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=1, ProfilesActivation=, mode=8"},
      {L"Profiles=1", "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=1, mode=16"},
      // Only the exact text "1" switches a bit on; keys keep trailing blanks.
      {L"Files=0|Registry=true|Plugins= 1|ProtocolHandlers=01|Profiles=1 |ProductType =x",
       "ProductType=, Files=0, Registry=true, Plugins= 1, ProtocolHandlers=01, ProfilesActivation=1 , mode=0"},
  };
  for (const auto& c : cases) {  // no CustomActionData when null
    MsiSession session;
    if (c.data) session.SetProperty(L"CustomActionData", c.data);
    EXPECT_EQ(module.Action("MsiProductActivate")(session.Handle()), kInstallFailure);
    const auto lines = session.Lines();
    ASSERT_EQ(lines.size(), 4u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[1], (kLinePrefix + std::string("MsiProductActivate: ") + c.parameters).c_str()))
        << Printable(lines);
  }
}

// A product of the test's own: its feature Pc counts for vmobpc and declares
// the registry flag A, below the product key, which an earlier activation
// left at 1; `storedType` is the stored product type (none when empty).
class FlagProduct {
 public:
  FlagProduct(const std::wstring& storedType, const std::wstring& suffix) : product(TestName() + suffix) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    if (!storedType.empty()) product.SetString(L"environment", L"ProductType", storedType);
    product.SetString(L"Installer\\registry", L"FlagA", L"Key=" + FlagKey() + L"|Name=A");
    product.AddFeature(L"Pc", L"vmobpc");
    product.SetString(L"Installer\\features\\Pc", L"Registry", L"FlagA");
    product.SetDword(L"Flags", L"A", 1);
  }
  std::wstring FlagKey() const { return product.KeyOf(L"Flags"); }
  std::optional<DWORD> Flag() const { return qvrtest::ReadDword(HKEY_LOCAL_MACHINE, FlagKey(), L"A"); }

  qvrtest::TestProduct product;
};

// The rollback deactivates only a stored type; the deactivation always (for
// the empty type no feature counts, so every flag goes to 0). The stored type
// stays, and a flag that cannot be written fails the action.
TEST(CustomActions, RollbackAndDeactivationOfTheStoredType) {
  const struct {
    const char* action;
    const wchar_t* storedType;
    bool locked;
    UINT result;
    std::optional<DWORD> flag;
    const char* line;  // a line that must be written; "" for none of WriteRegistry's
  } cases[] = {
      {"MsiProductRbActivate", L"", false, 0, 1, ""},
      {"MsiProductRbActivate", L"vmobpc", false, 0, 0, "DeactivateRegistry: registry value FlagA requested by feature Pc"},
      {"MsiProductDeactivate", L"vmobpc", false, 0, 0, "DeactivateRegistry: registry value FlagA requested by feature Pc"},
      {"MsiProductDeactivate", L"", false, 0, 0, "WriteRegistry: setting value A to not installed"},
      {"MsiProductDeactivate", L"vmobpc", true, kInstallFailure, std::nullopt, "WriteRegistry: can't create key .*"},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.action << " " << testing::PrintToString(c.storedType) << " " << c.locked);
    FlagProduct p(c.storedType, L"." + std::to_wstring(++number));
    std::optional<qvrtest::ScopedKeyLock> lock;
    if (c.locked) {
      ASSERT_TRUE(lock.emplace(HKEY_LOCAL_MACHINE, p.FlagKey()).Locked());
    }
    QvrinstModule module;
    MsiSession session;
    EXPECT_EQ(module.Action(c.action)(session.Handle()), c.result);
    const auto lines = session.Lines();
    ASSERT_GE(lines.size(), 2u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.front(), StartRecord(c.action).c_str())) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.back(), EndRecord(c.action, c.result ? 3 : 1).c_str())) << Printable(lines);
    EXPECT_EQ(AnyMatch(lines, *c.line ? c.line : "WriteRegistry:.*"), *c.line != '\0') << Printable(lines);
    EXPECT_EQ(p.Flag(), c.flag);  // a locked key cannot be read either
    EXPECT_EQ(p.product.GetString(L"environment", L"ProductType"),
              *c.storedType ? std::optional<std::wstring>(c.storedType) : std::nullopt);
  }
}

// Without the product's key paths nothing can be read, not even whether a
// type is stored: both actions say so and fail.
TEST(CustomActions, RollbackAndDeactivationFailWithoutKeyPaths) {
  const std::wstring library = qvrtest::BuildPath(L"bin\\product_info_noexport.dll");
  for (const char* action : {"MsiProductRbActivate", "MsiProductDeactivate"}) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"ProductInfoDLL", library.c_str()));
    QvrinstModule module;
    MsiSession session;
    EXPECT_EQ(module.Action(action)(session.Handle()), kInstallFailure) << action;
    SetEnvironmentVariableW(L"ProductInfoDLL", nullptr);
    const auto lines = session.Lines();
    EXPECT_TRUE(AnyMatch(lines, kLinePrefix + std::string(action) + ": Initialize failed, deactivating what was read"))
        << Printable(lines);
    EXPECT_TRUE(AnyMatch(lines, "DeactivateCurrentType: the product's registry keys are unknown \\(Initialize failed\\)"))
        << Printable(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(FullMatch(lines.back(), EndRecord(action, 3).c_str())) << Printable(lines);
  }
}

}  // namespace
