// MsiProductActivate with Profiles=1 in a real installer session: the task
// profile context, the profile writer and the stored product type, over
// three runs that change the product type.
#include "Custom_Actions/qvrinst/custom_actions.h"

#include "tests/support/msi_session.h"
#include "tests/unit/win/task_profiles/profile_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using qvrtest::FullMatch;
using qvrtest::MsiSession;
using task_profiles_test::Printable;
using task_profiles_test::ProfileProduct;
using task_profiles_test::ScopedVariable;
using task_profiles_test::TestName;
using testing::Contains;

constexpr char kPrefix[] = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";

bool HasMatch(const std::vector<std::wstring>& lines, const std::string& pattern) {
  for (const auto& line : lines)
    if (FullMatch(line, pattern.c_str())) return true;
  return false;
}

std::string EndRecord(int value) {
  return "Action ended [0-9]{2}:[0-9]{2}:[0-9]{2}: MsiProductActivate\\. Return value " + std::to_string(value) +
         "\\.";
}

// Runs the action with `data`; the lines it wrote.
std::vector<std::wstring> Activate(const wchar_t* data, UINT expected) {
  MsiSession session;
  session.SetProperty(L"CustomActionData", data);
  EXPECT_EQ(qvr::ProductActivate(session.Handle()), expected) << Printable(session.Lines());
  return session.Lines();
}

TEST(ProfilesAction, ActivationsMoveTheProfilesWithTheProductType) {
  // ProductRoot as the installer writes a folder: with a trailing backslash.
  ProfileProduct product(TestName(), true);
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.DeclareProfile(L"Update", L"tasks\\Update");
  product.DeclareProfile(L"Old", L"tasks\\Old");
  product.AddFeature(L"Antivirus", L"A B", L"Scan Update", L"B");
  product.AddFeature(L"Legacy", L"B", L"Old");
  const std::string xmlPath = [&] {
    std::string path;
    for (wchar_t c : product.XmlPath()) {
      if (c == L'\\' || c == L'.') path += '\\';
      path += static_cast<char>(c);
    }
    return path;
  }();

  auto lines = Activate(L"ProductType=A|Profiles=1", 0);
  EXPECT_TRUE(HasMatch(lines, std::string(kPrefix) + "\\[VantorTmProfiles\\]\tprocessing profiles\\.xml : " + xmlPath))
      << Printable(lines);
  EXPECT_TRUE(HasMatch(lines, std::string(kPrefix) +
                                  "\\[VantorTmProfiles\\]\tCreate registry node from profiles\\.xml : " + xmlPath))
      << Printable(lines);
  EXPECT_THAT(lines, Contains(L"ActivateProfiles: profile Scan requested by feature Antivirus"));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord(1).c_str())) << Printable(lines);
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), std::nullopt);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");

  // A to B: A's profiles are unmarked, then B's marked (and switched off
  // where Antivirus says so).
  lines = Activate(L"ProductType=B|Profiles=1", 0);
  EXPECT_THAT(lines, Contains(L"DeactivateProfiles: profile Scan requested by feature Antivirus"));
  EXPECT_THAT(lines, Contains(L"ActivateProfiles: profile Old requested by feature Legacy"));
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 0u);
  EXPECT_EQ(product.StoredDword("tasks\\Update\\def", "enabled"), 0u);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"B");

  // B to A without the profiles bit: B's profiles go, A's are not activated.
  lines = Activate(L"ProductType=A", 0);
  EXPECT_THAT(lines, Contains(L"DeactivateProfiles: profile Old requested by feature Legacy"));
  EXPECT_FALSE(HasMatch(lines, "ActivateProfiles: .*"));
  for (const char* node : {"tasks\\Scan", "tasks\\Update", "tasks\\Old"}) {
    EXPECT_EQ(product.StoredDword(node, "installed"), std::nullopt) << node;
  }
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");
}

TEST(ProfilesAction, WithoutAStoreTheActionFails) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.AddFeature(L"Antivirus", L"A", L"Scan");
  ScopedVariable fault(L"VTCORE_FAULT", L"complete");
  const auto lines = Activate(L"ProductType=A|Profiles=1", 1603);
  EXPECT_TRUE(HasMatch(lines, std::string(kPrefix) + "\\[VantorTmProfiles\\]\tCreateRegistry failed, err = 8000004B"))
      << Printable(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord(3).c_str())) << Printable(lines);
  // Nothing was activated: the installer object never ran.
  EXPECT_FALSE(HasMatch(lines, "ActivateProduct entry point"));
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), std::nullopt);
}

}  // namespace

namespace {

// Runs `action` on a session of its own; the lines it wrote.
std::vector<std::wstring> RunAction(UINT (*action)(MSIHANDLE), UINT expected) {
  MsiSession session;
  EXPECT_EQ(action(session.Handle()), expected) << Printable(session.Lines());
  return session.Lines();
}

TEST(ProfilesAction, NothingChangesWhenInitializeOrCustomActionDataFails) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.AddFeature(L"Antivirus", L"A", L"Scan");
  Activate(L"ProductType=A|Profiles=1", 0);
  ASSERT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);

  // A profile declaration without data stops the readers before the features.
  product.DeclareProfile(L"Broken", L"");
  auto lines = Activate(L"ProductType=B|Profiles=1", 1603);
  EXPECT_THAT(lines, Contains(L"ReadProfiles: value Broken is empty"));
  EXPECT_TRUE(HasMatch(lines, std::string(kPrefix) + "MsiProductActivate: Initialize failed, nothing was activated"))
      << Printable(lines);
  EXPECT_FALSE(HasMatch(lines, "ActivateProduct entry point"));
  EXPECT_TRUE(FullMatch(lines.back(), EndRecord(3).c_str())) << Printable(lines);
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");

  // CustomActionData that cannot be read is not empty data (which would
  // remove type A): the handle is not an installation's.
  EXPECT_EQ(qvr::ProductActivate(0), 1603u);
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");
}

TEST(ProfilesAction, FailedChangeStoresTheNewTypeForTheRollback) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.AddFeature(L"Antivirus", L"A B", L"Scan");
  Activate(L"ProductType=A|Profiles=1", 0);
  {
    // A's removal works (it only deletes values); B's profiles fail.
    ScopedVariable fault(L"VTCORE_FAULT", L"set=installed");
    const auto lines = Activate(L"ProductType=B|Profiles=1", 1603);
    EXPECT_THAT(lines, Contains(L"WriteProductType: set ProductType value: B")) << Printable(lines);
  }
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"B");

  // The rollback finds B to deactivate.
  const auto lines = RunAction(qvr::ProductRbActivate, 0);
  EXPECT_THAT(lines, Contains(L"ReadProductType: current product type is B")) << Printable(lines);
}

}  // namespace
