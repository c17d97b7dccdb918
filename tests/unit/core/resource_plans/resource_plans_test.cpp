// The plans of every kind of resource: which declarations the features
// qualifying for a product type request, and the state each kind sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "activators/environment.h"
#include "activators/file_removal.h"
#include "activators/plugins.h"
#include "activators/profiles.h"
#include "activators/registry_values.h"
#include "activators/shortcuts.h"

namespace {

using qvr::FeatureMap;
using qvr::FeatureRecord;
using qvr::Request;
using qvr::Requests;
using qvr::SplitDeclarationList;

FeatureRecord Feature(const wchar_t* types, const wchar_t* names, bool installed = true,
                      const wchar_t* disabledTypes = L"") {
  FeatureRecord feature;
  feature.installed = installed;
  feature.productTypes = SplitDeclarationList(types);
  feature.disabledProductTypes = SplitDeclarationList(disabledTypes);
  feature.profiles = feature.registry = feature.selfregs = SplitDeclarationList(names);
  feature.selfUnregs = SplitDeclarationList(std::wstring(names) + L" U");
  return feature;
}

// F1 and F2 qualify for "pc"; F3 is not installed, F4 is of other types
// only ("PC" is not "pc"); F0 declares no types, so only the empty type
// is its own.
FeatureMap Features() {
  return {{L"F2", Feature(L"kis pc", L"Both C", true, L"pc kis")},
          {L"F1", Feature(L"pc", L"Both A Undeclared A")},
          {L"F3", Feature(L"pc", L"Off", false)},
          {L"F4", Feature(L"PC kis", L"Off")},
          {L"F0", Feature(L"", L"Untyped")}};
}

template <class Table>
Table Declared(const typename Table::mapped_type& value) {
  Table table;
  for (const wchar_t* name : {L"A", L"Both", L"C", L"Off", L"Untyped", L"U"}) table[name] = value;
  return table;
}

TEST(ResourcePlans, RequestsOfTheQualifyingFeaturesInFeatureThenListOrder) {
  const auto table = Declared<qvr::PluginCommandTable>(L"cmd");
  const Requests pc{{L"Both", L"F1"}, {L"A", L"F1"}, {L"A", L"F1"}, {L"Both", L"F2"}, {L"C", L"F2"}};
  EXPECT_EQ(qvr::RequestsFor(Features(), L"pc", &FeatureRecord::profiles, table), pc);
  EXPECT_EQ(qvr::RequestsFor(Features(), L"", &FeatureRecord::profiles, table), (Requests{{L"Untyped", L"F0"}}));

  // Each direction of the plugins has its own list and table.
  EXPECT_EQ(qvr::PluginRegistrations::Plan(table, Features(), L"pc", qvr::PluginDirection::kRegister), pc);
  Requests unregister = pc;
  unregister.insert(unregister.begin() + 3, Request{L"U", L"F1"});
  unregister.push_back({L"U", L"F2"});
  EXPECT_EQ(qvr::PluginRegistrations::Plan(table, Features(), L"pc", qvr::PluginDirection::kUnregister), unregister);
}

// Everything marked before: an activation unmarks what is not requested and
// keeps its switch; a deactivation unmarks only what is requested. Both is
// named by F1 and then F2, which disables it for "pc": the last feature
// naming a profile decides.
TEST(ResourcePlans, ProfilesMarkedByActivationAndDeactivation) {
  const auto before = Declared<qvr::ProfileTable>({L"path", true, true});
  const qvr::ProfilePlan activation = qvr::TaskProfiles::PlanActivation(before, Features(), L"pc");
  const qvr::ProfilePlan deactivation = qvr::TaskProfiles::PlanDeactivation(before, Features(), L"pc");
  const std::tuple<const wchar_t*, bool, bool> cases[] = {
      {L"Both", true, true}, {L"A", true, false}, {L"C", true, true}, {L"Off", false, true}, {L"Untyped", false, true}};
  for (const auto& [name, requested, disabled] : cases) {
    const qvr::ProfileRecord& activated = activation.profiles.at(name);
    EXPECT_EQ(std::tuple(activated.path, activated.requested, activated.disabled),
              std::tuple(L"path", requested, disabled))
        << name;
    EXPECT_EQ(deactivation.profiles.at(name).requested, !requested) << name;
    EXPECT_TRUE(deactivation.profiles.at(name).disabled) << name;
  }
}

TEST(ResourcePlans, RegistryFlags) {
  const auto allSet = Declared<qvr::RegistryValueTable>({L"HKCU", L"k", L"n", true});
  const qvr::RegistryValuePlan activation = qvr::RegistryValues::PlanActivation(allSet, Features(), L"kis");
  const qvr::RegistryValuePlan deactivation = qvr::RegistryValues::PlanDeactivation(allSet, Features(), L"kis");
  EXPECT_EQ(activation.requests, deactivation.requests);
  for (const std::wstring name : {L"A", L"Both", L"C", L"Off", L"Untyped"}) {
    const bool requested = name != L"A" && name != L"Untyped";
    EXPECT_EQ(activation.values.at(name).installed, requested) << name;
    EXPECT_EQ(deactivation.values.at(name).installed, !requested) << name;
  }
  EXPECT_EQ(activation.values.at(L"Both").root, L"HKCU");
}

TEST(ResourcePlans, EnvironmentDeclarationsOfTheType) {
  EXPECT_EQ(qvr::EnvironmentValues::Plan(L"vmobpc"), L"vmob");
  EXPECT_EQ(qvr::EnvironmentValues::Plan(L"vmobfs"), L"vmob");
}

// The desktop takes the secure-payments shortcut only while its feature is installed; names and paths that would
// reach outside the folder they are meant for are refused.
TEST(ResourcePlans, ShortcutNamesAndPaths) {
  using qvr::ProductShortcuts;
  using Names = qvr::StringVector;
  const Names launch{L"LaunchShortcutName"};
  const Names both{L"LaunchShortcutName", L"PayGuardShortcutName"};
  EXPECT_EQ(ProductShortcuts::DesktopNames({{L"PayGuardFeature", Feature(L"", L"")}}), both);
  EXPECT_EQ(ProductShortcuts::DesktopNames({{L"PayGuardFeature", Feature(L"", L"", false)}}), launch);
  EXPECT_EQ(ProductShortcuts::DesktopNames(Features()), launch);
  EXPECT_EQ(ProductShortcuts::StartMenuNames(), launch);

  for (const wchar_t* name : {L"QVR 21", L"..x", L"a.b"}) EXPECT_TRUE(ProductShortcuts::IsPlainFileName(name)) << name;
  for (const wchar_t* name : {L"", L".", L"..", L"..\\Startup\\x", L"a/b", L"C:x", L"x:stream", L"*", L"a\tb"})
    EXPECT_FALSE(ProductShortcuts::IsPlainFileName(name)) << name;

  const std::wstring profile = L"C:\\Users\\Bob";
  for (const wchar_t* path : {L"C:\\Users\\Bob\\AppData\\Toast.lnk", L"c:\\users\\BOB\\t.LNK"})
    EXPECT_TRUE(ProductShortcuts::IsShortcutBelow(path, profile + L"\\")) << path;
  for (const wchar_t* path : {L"C:\\Users\\Bob\\..\\Alice\\t.lnk", L"C:\\Users\\Bobby\\t.lnk", L"C:\\Users\\Bob\\.lnk",
                              L"C:\\Users\\Bob\\t.exe", L"C:\\Users\\Bob\\t.lnk:s.lnk", L"Users\\Bob\\t.lnk",
                              L"\\\\server\\Users\\Bob\\t.lnk", L"C:\\Users\\Bob\\.\\t.lnk"})
    EXPECT_FALSE(ProductShortcuts::IsShortcutBelow(path, profile)) << testing::PrintToString(path);
}

// Deletions answer in turn (the last answer repeats); the calls are recorded as D (delete), W (wait) and S<flags>.
class ScriptedFiles final : public qvr::FileOperations {
 public:
  ScriptedFiles(std::vector<std::uint32_t> answers, std::uint32_t scheduled) : answers(answers), scheduled(scheduled) {}
  std::uint32_t Delete(const std::wstring&) override {
    calls += "D";
    return answers[std::min(deletes++, answers.size() - 1)];
  }
  std::uint32_t ScheduleDeletionAtRestart(const std::wstring&, std::uint32_t flags) override {
    calls += "S" + std::to_string(flags);
    return scheduled;
  }
  void WaitBeforeRetry() override { calls += "W"; }
  std::vector<std::uint32_t> answers;
  std::uint32_t scheduled;
  std::size_t deletes = 0;
  std::string calls;
};

TEST(ResourcePlans, FileRemovalAttempts) {
  const struct {
    qvr::RemovalPolicy policy;
    std::vector<std::uint32_t> answers;
    std::uint32_t scheduleAnswer;
    const char* calls;
    qvr::RemovalOutcome outcome;
    bool gone;
  } cases[] = {
      {qvr::kRetriedRemoval, {0}, 0, "D", {0, 0}, true},
      {qvr::kRetriedRemoval, {32, 5, 0}, 0, "DWDWD", {0, 0}, true},
      {qvr::kRetriedRemoval, {32}, 0, "DWDWDWDWDWDS4", {32, 0}, true},
      {qvr::kRetriedRemoval, {5}, 87, "DWDWDWDWDWDS4", {5, 87}, false},
      {qvr::kRetriedRemoval, {2}, 87, "D", {2, 0}, true},
      {qvr::kRetriedRemoval, {32, 3}, 87, "DWD", {3, 0}, true},
      {qvr::kRetriedRemoval, {1392}, 0, "DS4", {1392, 0}, true},
      {qvr::kSingleRemoval, {32}, 0, "DS5", {32, 0}, true},
  };
  for (const auto& c : cases) {
    ScriptedFiles files(c.answers, c.scheduleAnswer);
    const qvr::RemovalOutcome outcome = qvr::RemoveFile(files, L"C:\\x.lnk", c.policy);
    EXPECT_EQ(files.calls, c.calls);
    EXPECT_EQ(outcome, c.outcome) << c.calls;
    EXPECT_EQ(outcome.Gone(), c.gone) << c.calls;
  }
}

}  // namespace
