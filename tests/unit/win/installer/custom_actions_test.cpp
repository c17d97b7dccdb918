// The exported custom actions in a real installer session: the records and
// lines they write, and what CustomActionData makes of the activation mode.
#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using installer_test::QvrinstModule;
using qvrtest::FullMatch;
using qvrtest::MsiSession;
using qvrtest::ReadDword;
using qvrtest::TestProduct;

constexpr UINT kInstallFailure = 1603;
constexpr char kPrefix[] = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";

std::string StartRecord(const char* action) {
  return std::string("Action start [0-9]{2}:[0-9]{2}:[0-9]{2}: ") + action + "\\.";
}

std::string EndRecord(const char* action, int value) {
  return std::string("Action ended [0-9]{2}:[0-9]{2}:[0-9]{2}: ") + action + "\\. Return value " +
         std::to_string(value) + "\\.";
}

std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

std::string ParameterLine(const std::string& parameters) {
  return kPrefix + Escaped("MsiProductActivate: " + parameters);
}

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

std::string Printable(const std::vector<std::wstring>& lines) {
  std::string text;
  for (const auto& line : lines) text += "\n  " + testing::PrintToString(line);
  return text;
}

// Runs MsiProductActivate with `data` as CustomActionData (none when null).
UINT Activate(const QvrinstModule& module, MsiSession& session, const wchar_t* data) {
  if (data) session.SetProperty(L"CustomActionData", data);
  session.ClearLines();
  return module.Action("MsiProductActivate")(session.Handle());
}

TEST(CustomActions, ActivateWritesItsParametersAndFailsWithoutProfileStore) {
  QvrinstModule module;
  MsiSession session;
  EXPECT_EQ(Activate(module, session,
                     L"ProductType=vmobpc|Files=1|Registry=1|Plugins=1|ProtocolHandlers=1|Profiles=1"),
            kInstallFailure);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 4u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[0], StartRecord("MsiProductActivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[1], ParameterLine("ProductType=vmobpc, Files=1, Registry=1, Plugins=1, "
                                                "ProtocolHandlers=1, ProfilesActivation=1, mode=31")
                                      .c_str()))
      << Printable(lines);
  // Without ProductInfoDLL there is no product to take the profiles from.
  EXPECT_TRUE(FullMatch(lines[2], (std::string(kPrefix) +
                                   "\\[VantorTmProfiles\\]\\tGetEnvironmentVariableW failed, err = 203")
                                      .c_str()))
      << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[3], EndRecord("MsiProductActivate", 3).c_str())) << Printable(lines);
}

TEST(CustomActions, ActivationModeFromCustomActionData) {
  QvrinstModule module;
  MsiSession session;
  struct Case {
    const wchar_t* data;
    const char* parameters;
  };
  const Case cases[] = {
      {L"Files=1", "ProductType=, Files=1, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=4"},
      {L"Registry=1", "ProductType=, Files=, Registry=1, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=2"},
      {L"Plugins=1", "ProductType=, Files=, Registry=, Plugins=1, ProtocolHandlers=, ProfilesActivation=, mode=1"},
      {L"ProtocolHandlers=1",
       "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=1, ProfilesActivation=, mode=8"},
      {L"Profiles=1", "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=1, mode=16"},
      // Only the exact text "1" switches a bit on.
      {L"Registry=1 ", "ProductType=, Files=, Registry=1 , Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0"},
      {L"Files=0|Registry=true|Plugins= 1|ProtocolHandlers=01|Profiles=",
       "ProductType=, Files=0, Registry=true, Plugins= 1, ProtocolHandlers=01, ProfilesActivation=, mode=0"},
      // The first occurrence wins; a blank before "=" belongs to the key.
      {L"Files=1|Files=0|Registry =1",
       "ProductType=, Files=1, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=4"},
      {L" ;ProductType=x|Other=1|",
       "ProductType=x, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0"},
      // Empty: nothing to activate.
      {L"", "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Activate(module, session, c.data), kInstallFailure);
    const auto lines = session.Lines();
    ASSERT_EQ(lines.size(), 4u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[1], ParameterLine(c.parameters).c_str())) << Printable(lines);
  }
}

TEST(CustomActions, ActivateWithoutCustomActionData) {
  QvrinstModule module;
  MsiSession session;  // the property was never set
  EXPECT_EQ(Activate(module, session, nullptr), kInstallFailure);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 4u) << Printable(lines);
  EXPECT_TRUE(FullMatch(
      lines[1],
      ParameterLine("ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0")
          .c_str()))
      << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[3], EndRecord("MsiProductActivate", 3).c_str())) << Printable(lines);
}

TEST(CustomActions, MalformedCustomActionDataEndsAfterTheStartRecord) {
  QvrinstModule module;
  MsiSession session;
  for (const wchar_t* data : {L"Files", L"=1", L"a=b|c", L"Files=1|=2"}) {
    EXPECT_EQ(Activate(module, session, data), kInstallFailure) << testing::PrintToString(data);
    const auto lines = session.Lines();
    ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(data) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[0], StartRecord("MsiProductActivate").c_str())) << Printable(lines);
  }
}

// A product of the test's own: its feature Pc counts for vmobpc and declares
// the registry flag A, below the product key, which an earlier activation
// left at 1; `storedType` is the stored product type (none when empty).
class FlagProduct {
 public:
  explicit FlagProduct(const std::wstring& storedType, const std::wstring& suffix = L"")
      : product(TestName() + suffix) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    if (!storedType.empty()) product.SetString(L"environment", L"ProductType", storedType);
    product.SetString(L"Installer\\registry", L"FlagA", L"Key=" + FlagKey() + L"|Name=A");
    product.AddFeature(L"Pc", L"vmobpc");
    product.SetString(L"Installer\\features\\Pc", L"Registry", L"FlagA");
    product.SetDword(L"Flags", L"A", 1);
  }
  std::wstring FlagKey() const { return product.KeyOf(L"Flags"); }
  std::optional<DWORD> Flag() const { return ReadDword(HKEY_LOCAL_MACHINE, FlagKey(), L"A"); }

  TestProduct product;
};

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& text) {
  for (const auto& line : lines) {
    if (line.find(text) != std::wstring::npos) return true;
  }
  return false;
}

TEST(CustomActions, RollbackWithoutStoredTypeDeactivatesNothing) {
  FlagProduct p(L"");
  QvrinstModule module;
  MsiSession session;
  EXPECT_EQ(module.Action("MsiProductRbActivate")(session.Handle()), 0u);
  const auto lines = session.Lines();
  ASSERT_GE(lines.size(), 2u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.front(), StartRecord("MsiProductRbActivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord("MsiProductRbActivate", 1).c_str())) << Printable(lines);
  EXPECT_FALSE(HasLine(lines, L"WriteRegistry:")) << Printable(lines);
  EXPECT_EQ(p.Flag(), std::optional<DWORD>(1));
}

// Both actions deactivate a stored type: the flags of its features go to 0,
// and the stored type stays.
TEST(CustomActions, RollbackAndDeactivationDeactivateTheStoredType) {
  for (const char* action : {"MsiProductRbActivate", "MsiProductDeactivate"}) {
    FlagProduct p(L"vmobpc", L"." + std::wstring(action, action + std::strlen(action)));
    QvrinstModule module;
    MsiSession session;
    EXPECT_EQ(module.Action(action)(session.Handle()), 0u) << action;
    const auto lines = session.Lines();
    ASSERT_GE(lines.size(), 2u) << action << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.front(), StartRecord(action).c_str())) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.back(), EndRecord(action, 1).c_str())) << Printable(lines);
    EXPECT_TRUE(HasLine(lines, L"DeactivateRegistry: registry value FlagA requested by feature Pc"))
        << action << Printable(lines);
    EXPECT_EQ(p.Flag(), std::optional<DWORD>(0)) << action;
    EXPECT_EQ(p.product.GetString(L"environment", L"ProductType"), std::optional<std::wstring>(L"vmobpc")) << action;
  }
}

// Without a stored type the deactivation still runs, for the empty type: no
// feature counts for it, so every declared flag is written 0.
TEST(CustomActions, DeactivationWithoutStoredTypeSwitchesEveryFlagOff) {
  FlagProduct p(L"");
  QvrinstModule module;
  MsiSession session;
  EXPECT_EQ(module.Action("MsiProductDeactivate")(session.Handle()), 0u);
  const auto lines = session.Lines();
  ASSERT_GE(lines.size(), 2u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.front(), StartRecord("MsiProductDeactivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord("MsiProductDeactivate", 1).c_str())) << Printable(lines);
  EXPECT_FALSE(HasLine(lines, L"requested by feature")) << Printable(lines);
  EXPECT_EQ(p.Flag(), std::optional<DWORD>(0));
}

// A flag that cannot be written fails the deactivation with 1603, and its end
// record says so.
TEST(CustomActions, DeactivationFailsWhenAFlagCannotBeWritten) {
  FlagProduct p(L"vmobpc");
  const qvrtest::ScopedKeyLock lock(HKEY_LOCAL_MACHINE, p.FlagKey());
  ASSERT_TRUE(lock.Locked());
  QvrinstModule module;
  MsiSession session;
  EXPECT_EQ(module.Action("MsiProductDeactivate")(session.Handle()), kInstallFailure);
  const auto lines = session.Lines();
  ASSERT_GE(lines.size(), 2u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.front(), StartRecord("MsiProductDeactivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord("MsiProductDeactivate", 3).c_str())) << Printable(lines);
  EXPECT_TRUE(HasLine(lines, L"WriteRegistry: can't create key " + p.FlagKey() + L": 0x00000005"))
      << Printable(lines);
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
    const std::wstring name(action, action + std::strlen(action));
    EXPECT_TRUE(HasLine(lines, name + L": Initialize failed, deactivating what was read")) << Printable(lines);
    EXPECT_TRUE(HasLine(lines, L"DeactivateCurrentType: the product's registry keys are unknown (Initialize failed)"))
        << Printable(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(FullMatch(lines.back(), EndRecord(action, 3).c_str())) << Printable(lines);
  }
}

}  // namespace
