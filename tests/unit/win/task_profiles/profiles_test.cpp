// Task profiles against the real store of vtcore.dll: the state it keeps, and
// what each failure leaves behind.
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/custom_actions.h"
#include "Custom_Actions/qvrinst/installer.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/unit/win/task_profiles/profile_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using qvrtest::RecordingSink;
using task_profiles_test::Printable;
using task_profiles_test::ProfileProduct;
using task_profiles_test::ScopedVariable;
using task_profiles_test::TestName;
using testing::IsEmpty;

// One use of the installer object with the context's store (the object goes first).
struct ProfileRun {
  explicit ProfileRun(const wchar_t* productType, bool withStore = true) : context(session.Handle()) {
    EXPECT_NE(context.Store(), nullptr) << Printable(session.Lines());
    initialized = installer.Initialize(&sink, productType, withStore ? context.Store() : nullptr);
  }
  qvrtest::MsiSession session;
  qvr::VantorTmProfiles context;
  RecordingSink sink;
  qvr::Installer installer;
  bool initialized = false;
};

// Which profiles a type marks is the plan's (tested natively); this shows
// what the store keeps across processes.
TEST(Profiles, TheStoreKeepsWhatEachActivationWrote) {
  ProfileProduct product(TestName());
  for (const wchar_t* name : {L"Scan", L"Update", L"Old", L"Never"})
    product.DeclareProfile(name, L"tasks\\" + std::wstring(name));
  product.AddFeature(L"F1", L"A B", L"Scan Update", L"B");
  auto activate = [&](const wchar_t* type, bool activation) {
    ProfileRun run(type);
    ASSERT_TRUE(run.initialized);
    ASSERT_TRUE(activation ? run.installer.ActivateProfiles(type) : run.installer.DeactivateProfiles(type));
    EXPECT_THAT(run.sink.Texts(qvr::kLogError), IsEmpty());
  };
  auto state = [&] {
    std::wstring text;
    for (const char* node : {"tasks\\Scan", "tasks\\Update", "tasks\\Old", "tasks\\Never"}) {
      const auto installed = product.StoredDword(node, "installed");
      const auto enabled = product.StoredDword(std::string(node) + "\\def", "enabled");
      text += (installed ? std::to_wstring(*installed) : L"-") + (enabled ? std::to_wstring(*enabled) : L"-") + L" ";
    }
    return text;
  };
  // Old was installed by profiles.xml and is removed; Never was not and
  // costs no failure; only the disabled type switches a profile off, and
  // nothing writes "enabled" back to 1.
  activate(L"A", true);
  EXPECT_EQ(state(), L"11 1- -- -- ");
  activate(L"B", true);
  EXPECT_EQ(state(), L"10 10 -- -- ");
  activate(L"A", false);
  EXPECT_EQ(state(), L"-0 -0 -- -- ");
}

// No store, a fault of the store, a profile whose node profiles.xml does not
// declare and a path without a narrow form each stop the writer at that
// profile: the ones before it keep their new state, the ones after it are left.
TEST(Profiles, StoreFailuresKeepTheProfilesWrittenBefore) {
  struct Case {
    const wchar_t* fault;  // null: no store
    const wchar_t* disabledTypes;
    const wchar_t* extraPath;  // of profile Sz, between Scan and Update
    const wchar_t* line;
    std::optional<std::uint32_t> scanInstalled;
  };
  const Case cases[] = {
      {nullptr, L"", nullptr, L"WriteProfiles: profiles are empty!", std::nullopt},
      {L"", L"", L"tasks\\Gone", L"WriteProfiles: can't open profile tasks\\Gone: 0x8000d001", 1u},
      {L"", L"", L"tasks\\\x4E2D",
       L"WriteProfiles: path tasks\\\x4E2D of profile Sz has no form in the current character set", 1u},
      {L"set=installed", L"", nullptr, L"WriteProfiles: can't set value installed for profile tasks\\Scan: 0x8000004b",
       std::nullopt},
      {L"open=def", L"T", nullptr, L"WriteProfiles: can't open default key for profile tasks\\Scan: 0x8000004b", 1u},
      {L"set=enabled", L"T", nullptr, L"WriteProfiles: can't set value enabled for profile tasks\\Scan: 0x8000004b",
       1u},
      // Old fails first: Scan is not reached.
      {L"delete=installed", L"", nullptr,
       L"WriteProfiles: can't remove value installed for profile tasks\\Old: 0x8000004b", std::nullopt},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    ProfileProduct product(TestName() + std::to_wstring(index++));
    // Old (not requested) sorts before Scan (requested), Update after both.
    product.DeclareProfile(L"Old", L"tasks\\Old");
    product.DeclareProfile(L"Scan", L"tasks\\Scan");
    if (c.extraPath) product.DeclareProfile(L"Sz", c.extraPath);
    product.DeclareProfile(L"Update", L"tasks\\Update");
    product.AddFeature(L"F1", L"T", L"Scan Sz Update", c.disabledTypes);
    {
      ProfileRun run(L"T", c.fault != nullptr);
      ScopedVariable fault(L"VTCORE_FAULT", c.fault);
      EXPECT_FALSE(run.installer.ActivateProfiles(L"T"));
      EXPECT_THAT(run.sink.Texts(qvr::kLogError), testing::ElementsAre(c.line));
    }
    EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), c.scanInstalled);
    EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 1u);
    EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), std::nullopt) << "left untouched";
  }
}

// CustomActionData that cannot be read is not empty data, which would
// remove the stored type: the action fails and changes nothing.
TEST(Profiles, ActionWithoutASessionChangesNothing) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.AddFeature(L"Antivirus", L"A", L"Scan");
  product.Product().SetString(L"environment", L"ProductType", L"A");
  EXPECT_EQ(qvr::ProductActivate(0), 1603u);
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), std::nullopt);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");
}

}  // namespace
