// The plans of every kind of resource: which declarations the features
// qualifying for a product type request, and the state each kind sets.
#include "activators/environment.h"
#include "activators/plugins.h"
#include "activators/profiles.h"
#include "activators/registry_values.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

}  // namespace
