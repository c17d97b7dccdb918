// The installer object's task profiles against the real store of vtcore.dll:
// declarations read, profiles marked by the qualifying features, the state
// of every profile in the store, and what each failure leaves behind.
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
#include <typeinfo>

namespace {

using qvrtest::RecordingSink;
using task_profiles_test::Printable;
using task_profiles_test::ProfileProduct;
using task_profiles_test::ScopedVariable;
using task_profiles_test::TestName;
using testing::Contains;
using testing::IsEmpty;
using testing::Not;

// One use of the installer object, with the store that the task profile
// context builds for the product; the object goes before the context.
class ProfileRun {
 public:
  explicit ProfileRun(const wchar_t* productType, bool withStore = true)
      : context_(session_.Handle()) {
    EXPECT_NE(context_.Store(), nullptr) << Printable(session_.Lines());
    initialized_ = installer_.Initialize(&sink_, productType, withStore ? context_.Store() : nullptr);
  }

  bool Initialized() const { return initialized_; }
  qvr::Installer& Installer() { return installer_; }
  const RecordingSink& Sink() const { return sink_; }
  std::vector<std::wstring> Lines(int level) const { return sink_.Texts(level); }

 private:
  qvrtest::MsiSession session_;
  qvr::VantorTmProfiles context_;
  RecordingSink sink_;
  qvr::Installer installer_;
  bool initialized_ = false;
};

// The lines of one level that start with `operation`.
std::vector<std::wstring> LinesOf(const ProfileRun& run, int level, const std::wstring& operation) {
  std::vector<std::wstring> lines;
  for (const auto& line : run.Lines(level))
    if (line.rfind(operation, 0) == 0) lines.push_back(line);
  return lines;
}

// The product with the four profiles of the default profiles.xml declared.
void DeclareTaskProfiles(ProfileProduct& product) {
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.DeclareProfile(L"Update", L"tasks\\Update");
  product.DeclareProfile(L"Old", L"tasks\\Old");
  product.DeclareProfile(L"Never", L"tasks\\Never");
}

TEST(Profiles, ActivationMarksTheRequestedProfilesAndRemovesTheOthers) {
  ProfileProduct product(TestName());
  DeclareTaskProfiles(product);
  product.AddFeature(L"F1", L"A B", L"Scan Update Undeclared", L"B");
  product.AddFeature(L"F2", L"C", L"Old");
  product.AddFeature(L"F3", L"A", L"Never", L"", false);
  {
    ProfileRun run(L"A");
    ASSERT_TRUE(run.Initialized());
    EXPECT_THAT(run.Lines(qvr::kLogInfo), Contains(L"ReadProfiles: profile Scan = tasks\\Scan"));
    ASSERT_EQ(run.Installer().Profiles().Table().size(), 4u);
    ASSERT_TRUE(run.Installer().ActivateProfiles(L"A"));
    const auto lines = run.Lines(qvr::kLogInfo);
    EXPECT_THAT(lines, Contains(L"ActivateProfiles: profile Scan requested by feature F1"));
    EXPECT_THAT(lines, Contains(L"ActivateProfiles: profile Update requested by feature F1"));
    // A name without a declaration is passed over in silence.
    EXPECT_FALSE(run.Sink().Has(L"Undeclared"));
    EXPECT_THAT(lines, Contains(L"WriteProfiles: setting profile Scan to installed, enable state to not changed"));
    EXPECT_THAT(lines, Contains(L"WriteProfiles: setting profile Old to not installed, enable state to not changed"));
    EXPECT_THAT(run.Lines(qvr::kLogError), Not(Contains(testing::HasSubstr(L"Profiles"))));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), 1u);
  // Removed where it was, and no failure where it never was.
  EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), std::nullopt);
  EXPECT_EQ(product.StoredDword("tasks\\Never", "installed"), std::nullopt);
  // Only the disabled type switches a profile off.
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Update\\def", "enabled"), std::nullopt);

  // A later process, for the type that F1 disables.
  {
    ProfileRun run(L"B");
    ASSERT_TRUE(run.Installer().ActivateProfiles(L"B"));
    EXPECT_THAT(run.Lines(qvr::kLogInfo),
                Contains(L"WriteProfiles: setting profile Update to installed, enable state to disabled"));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 0u);
  EXPECT_EQ(product.StoredDword("tasks\\Update\\def", "enabled"), 0u);

  // Going back to A leaves "enabled" as it is: it is never written with 1.
  {
    ProfileRun run(L"A");
    ASSERT_TRUE(run.Installer().ActivateProfiles(L"A"));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 0u);

  // Deactivation unmarks the profiles of the qualifying features.
  {
    ProfileRun run(L"A");
    ASSERT_TRUE(run.Installer().DeactivateProfiles(L"A"));
    const auto lines = run.Lines(qvr::kLogInfo);
    EXPECT_THAT(lines, Contains(L"DeactivateProfiles: profile Scan requested by feature F1"));
    EXPECT_THAT(lines, Contains(L"WriteProfiles: setting profile Scan to not installed, enable state to not changed"));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), std::nullopt);
  EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), std::nullopt);
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 0u);
}

TEST(Profiles, EmptyTableWritesNothingAndNoStoreFails) {
  ProfileProduct product(TestName());
  product.AddFeature(L"F1", L"A", L"Scan");
  {
    ProfileRun run(L"A");
    EXPECT_TRUE(run.Installer().ActivateProfiles(L"A"));
    EXPECT_FALSE(run.Sink().Has(L"WriteProfiles"));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), 1u);

  DeclareTaskProfiles(product);
  ProfileRun run(L"A", false);
  EXPECT_FALSE(run.Installer().ActivateProfiles(L"A"));
  EXPECT_FALSE(run.Installer().DeactivateProfiles(L"A"));
  EXPECT_THAT(LinesOf(run, qvr::kLogError, L"WriteProfiles"),
              testing::ElementsAre(L"WriteProfiles: profiles are empty!", L"WriteProfiles: profiles are empty!"));
}

TEST(Profiles, DeclarationsThatFailTheReader) {
  struct Case {
    const char* what;
    std::wstring name;
    std::wstring data;
    DWORD type;
    const wchar_t* line;
  };
  const Case cases[] = {
      {"empty data", L"Empty", L"", REG_SZ, L"ReadProfiles: value Empty is empty"},
      {"REG_EXPAND_SZ", L"Expanded", L"tasks\\Scan", REG_EXPAND_SZ,
       L"ReadProfiles: can't query value Expanded: 0x0000065d"},
      {"REG_MULTI_SZ", L"Multi", L"tasks\\Scan", REG_MULTI_SZ, L"ReadProfiles: can't query value Multi: 0x0000065d"},
      {"a name of 256 characters", std::wstring(256, L'p'), L"tasks\\Scan", REG_SZ,
       L"ReadProfiles: can't enum profiles key: 0x000000ea"},
  };
  int index = 0;
  for (const Case& c : cases) {
    ProfileProduct product(TestName() + std::to_wstring(index++));
    product.AddFeature(L"F1", L"A", L"Scan");
    product.DeclareProfile(c.name, c.data, c.type);
    ProfileRun run(L"A");
    EXPECT_FALSE(run.Initialized()) << c.what;
    EXPECT_THAT(run.Lines(qvr::kLogError), Contains(c.line)) << c.what << Printable(run.Lines(qvr::kLogError));
    // The readers after it did not run.
    EXPECT_THAT(run.Installer().Features(), IsEmpty()) << c.what;
  }

  // 255 characters are a name; the key's default value declares nothing.
  ProfileProduct product(TestName() + L"Longest");
  const std::wstring longest(255, L'p');
  product.DeclareProfile(longest, L"tasks\\Scan");
  product.DeclareProfile(L"", L"tasks\\Update");
  {
    ProfileRun run(L"A");
    EXPECT_TRUE(run.Initialized()) << Printable(run.Lines(qvr::kLogError));
    EXPECT_THAT(LinesOf(run, qvr::kLogInfo, L"ReadProfiles"),
                testing::ElementsAre(L"ReadProfiles: profile " + longest + L" = tasks\\Scan"));
    ASSERT_EQ(run.Installer().Profiles().Table().size(), 1u);
    EXPECT_EQ(run.Installer().Profiles().Table().at(longest).path, L"tasks\\Scan");
  }

  // Without a profiles key nothing else is read.
  ProfileProduct bare(TestName() + L"NoKey");
  bare.AddFeature(L"F1", L"A", L"Scan");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, bare.Product().KeyOf(L"Installer\\profiles").c_str());
  ProfileRun run(L"A");
  EXPECT_FALSE(run.Initialized());
  EXPECT_THAT(run.Lines(qvr::kLogError), Contains(L"ReadProfiles: can't open profiles key: 0x00000002"));
  EXPECT_THAT(run.Installer().Features(), IsEmpty());
}

TEST(Profiles, StoreFailuresKeepTheProfilesWrittenBefore) {
  // A profile whose node profiles.xml does not declare: the store cannot
  // open it; the one before it keeps its new state, the one after is left.
  {
    ProfileProduct product(TestName() + L"Open");
    product.DeclareProfile(L"A", L"tasks\\Scan");
    product.DeclareProfile(L"B", L"tasks\\Gone");
    product.DeclareProfile(L"C", L"tasks\\Update");
    product.AddFeature(L"F1", L"T", L"A B C");
    {
      ProfileRun run(L"T");
      EXPECT_FALSE(run.Installer().ActivateProfiles(L"T"));
      EXPECT_THAT(LinesOf(run, qvr::kLogError, L"WriteProfiles"),
                  testing::ElementsAre(L"WriteProfiles: can't open profile tasks\\Gone: 0x8000d001"));
      EXPECT_FALSE(run.Sink().Has(L"setting profile C"));
    }
    EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
    EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), std::nullopt);
  }

  struct Case {
    const wchar_t* fault;
    const wchar_t* disabledTypes;
    const wchar_t* line;
    std::optional<std::uint32_t> scanInstalled;
  };
  const Case cases[] = {
      {L"set=installed", L"", L"WriteProfiles: can't set value installed for profile tasks\\Scan: 0x8000004b",
       std::nullopt},
      {L"open=def", L"T", L"WriteProfiles: can't open default key for profile tasks\\Scan: 0x8000004b", 1u},
      {L"set=enabled", L"T", L"WriteProfiles: can't set value enabled for profile tasks\\Scan: 0x8000004b", 1u},
      // Old fails first: Scan is not reached.
      {L"delete=installed", L"", L"WriteProfiles: can't remove value installed for profile tasks\\Old: 0x8000004b",
       std::nullopt},
  };
  int index = 0;
  for (const Case& c : cases) {
    ProfileProduct product(TestName() + std::to_wstring(index++));
    // Old (not requested) sorts before Scan (requested), Update after both.
    product.DeclareProfile(L"Old", L"tasks\\Old");
    product.DeclareProfile(L"Scan", L"tasks\\Scan");
    product.DeclareProfile(L"Update", L"tasks\\Update");
    product.AddFeature(L"F1", L"T", L"Scan Update", c.disabledTypes);
    {
      ProfileRun run(L"T");
      ScopedVariable fault(L"VTCORE_FAULT", c.fault);
      EXPECT_FALSE(run.Installer().ActivateProfiles(L"T")) << testing::PrintToString(c.fault);
      EXPECT_THAT(LinesOf(run, qvr::kLogError, L"WriteProfiles"), testing::ElementsAre(c.line));
    }
    EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), c.scanInstalled) << testing::PrintToString(c.fault);
    EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 1u);
    EXPECT_EQ(product.StoredDword("tasks\\Update", "installed"), std::nullopt) << "left untouched";
  }
}

TEST(Profiles, PathWithoutNarrowFormStopsTheWriter) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"A", L"tasks\\Scan");
  product.DeclareProfile(L"Z", L"tasks\\\x4E2D");
  product.AddFeature(L"F1", L"T", L"A Z");
  {
    ProfileRun run(L"T");
    EXPECT_FALSE(run.Installer().ActivateProfiles(L"T"));
    EXPECT_THAT(LinesOf(run, qvr::kLogError, L"WriteProfiles"),
                testing::ElementsAre(L"WriteProfiles: path tasks\\\x4E2D of profile Z has no form in the current "
                                     L"character set"));
  }
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), 1u);
}

// The action itself without a store, or on a handle that is no
// installation's: it fails and changes nothing.
TEST(Profiles, ActionWithoutAStoreOrASessionChangesNothing) {
  ProfileProduct product(TestName());
  product.DeclareProfile(L"Scan", L"tasks\\Scan");
  product.AddFeature(L"Antivirus", L"A", L"Scan");
  {
    ScopedVariable fault(L"VTCORE_FAULT", L"complete");
    qvrtest::MsiSession session;
    session.SetProperty(L"CustomActionData", L"ProductType=A|Profiles=1");
    EXPECT_EQ(qvr::ProductActivate(session.Handle()), 1603u);
    const auto lines = session.Lines();
    EXPECT_TRUE(qvrtest::AnyMatch(
        lines, qvrtest::kLinePrefix + std::string("\\[VantorTmProfiles\\]\\tCreateRegistry failed, err = 8000004B")))
        << Printable(lines);
    EXPECT_FALSE(qvrtest::AnyMatch(lines, "ActivateProduct entry point")) << Printable(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(qvrtest::FullMatch(lines.back(), qvrtest::EndRecord("MsiProductActivate", 3).c_str()));
  }
  // CustomActionData that cannot be read is not empty data, which would
  // remove the stored type.
  product.Product().SetString(L"environment", L"ProductType", L"A");
  EXPECT_EQ(qvr::ProductActivate(0), 1603u);
  EXPECT_EQ(product.StoredDword("tasks\\Scan", "installed"), std::nullopt);
  EXPECT_EQ(product.Product().GetString(L"environment", L"ProductType"), L"A");
}

}  // namespace
