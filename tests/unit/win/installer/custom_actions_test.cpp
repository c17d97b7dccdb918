// The exported custom actions in a real installer session: the records and
// lines they write, and what CustomActionData makes of the activation mode.
#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using installer_test::QvrinstModule;
using qvrtest::FullMatch;
using qvrtest::MsiSession;

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

TEST(CustomActions, RollbackAndDeactivation) {
  QvrinstModule module;
  MsiSession session;
  // No product type is stored: the rollback has nothing to deactivate.
  EXPECT_EQ(module.Action("MsiProductRbActivate")(session.Handle()), 0u);
  auto lines = session.Lines();
  ASSERT_GE(lines.size(), 2u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.front(), StartRecord("MsiProductRbActivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord("MsiProductRbActivate", 1).c_str())) << Printable(lines);
  for (const auto& line : lines) EXPECT_EQ(line.find(L"DeactivateCurrentType"), std::wstring::npos);

  // The deactivation runs whatever is stored; its end record tells the result.
  session.ClearLines();
  const UINT result = module.Action("MsiProductDeactivate")(session.Handle());
  EXPECT_TRUE(result == 0 || result == kInstallFailure) << result;
  lines = session.Lines();
  ASSERT_GE(lines.size(), 2u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.front(), StartRecord("MsiProductDeactivate").c_str())) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord("MsiProductDeactivate", result == 0 ? 1 : 3).c_str()))
      << Printable(lines);
}

}  // namespace
