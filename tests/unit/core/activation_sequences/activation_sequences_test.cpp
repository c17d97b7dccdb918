#include "Custom_Actions/qvrinst/activation_sequences.h"

#include "log/log_sink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using qvr::ActivationMode;
using testing::ElementsAre;
using testing::IsEmpty;

// Records every activator call as "Name(argument)"; the calls named in
// `failing` return false.
class RecordingSteps final : public qvr::ActivationSteps {
 public:
  std::vector<std::wstring> calls;
  std::set<std::wstring> failing;

  bool WriteProductType(const std::wstring& type) override { return Call(L"WriteProductType", type); }
  bool ActivateEnvironment(const std::wstring& type) override { return Call(L"ActivateEnvironment", type); }
  bool DeactivateCurrentType() override { return Call(L"DeactivateCurrentType", L""); }
  bool ActivateProfiles(const std::wstring& type) override { return Call(L"ActivateProfiles", type); }
  bool DeactivateProfiles(const std::wstring& type) override { return Call(L"DeactivateProfiles", type); }
  bool ActivateRegistry(const std::wstring& type) override { return Call(L"ActivateRegistry", type); }
  bool DeactivateRegistry(const std::wstring& type) override { return Call(L"DeactivateRegistry", type); }
  bool RegisterProtoHandlers() override { return Call(L"RegisterProtoHandlers", L""); }
  bool UnRegisterProtoHandlers() override { return Call(L"UnRegisterProtoHandlers", L""); }
  bool RegisterPlugins(const std::wstring& type) override { return Call(L"RegisterPlugins", type); }
  bool UnregisterPlugins(const std::wstring& type) override { return Call(L"UnregisterPlugins", type); }

 private:
  bool Call(const std::wstring& name, const std::wstring& argument) {
    calls.push_back(name + L"(" + argument + L")");
    return failing.count(name) == 0;
  }
};

class FormatSink final : public qvr::LogSink {
 public:
  std::vector<std::wstring> formats;
  bool IsEnabled() override { return true; }
  void Write(int, const wchar_t* format, ...) override { formats.emplace_back(format); }
};

bool Activate(RecordingSteps& steps, const wchar_t* current, const wchar_t* target, ActivationMode mode) {
  FormatSink sink;
  const bool result = qvr::RunActivateProduct(steps, &sink, current, target, mode);
  EXPECT_THAT(sink.formats, ElementsAre(L"ActivateProduct entry point"));
  return result;
}

TEST(ActivateProduct, SameTypeOnlyStoresIt) {
  RecordingSteps steps;
  EXPECT_TRUE(Activate(steps, L"A", L"A", 0));
  EXPECT_THAT(steps.calls, ElementsAre(L"WriteProductType(A)"));
}

TEST(ActivateProduct, TypeChangeRemovesTheOldTypeFirst) {
  RecordingSteps steps;
  EXPECT_TRUE(Activate(steps, L"A", L"B", 16));
  EXPECT_THAT(steps.calls, ElementsAre(L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()",
                                       L"ActivateProfiles(B)", L"WriteProductType(B)"));

  // With a new type, a failed removal ends the sequence.
  RecordingSteps failingDeactivation;
  failingDeactivation.failing = {L"DeactivateCurrentType"};
  EXPECT_FALSE(Activate(failingDeactivation, L"A", L"B", 2));
  EXPECT_THAT(failingDeactivation.calls, ElementsAre(L"DeactivateProfiles(A)", L"DeactivateCurrentType()"));

  RecordingSteps failingRemoval;
  failingRemoval.failing = {L"WriteProductType"};
  EXPECT_FALSE(Activate(failingRemoval, L"A", L"B", 2));
  EXPECT_THAT(failingRemoval.calls,
              ElementsAre(L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()"));
}

TEST(ActivateProduct, EmptyTargetOnlyRemovesAndIgnoresFailures) {
  RecordingSteps steps;
  steps.failing = {L"DeactivateCurrentType", L"WriteProductType"};
  EXPECT_TRUE(Activate(steps, L"A", L"", 63));
  EXPECT_THAT(steps.calls, ElementsAre(L"DeactivateCurrentType()", L"WriteProductType()"));

  RecordingSteps nothing;
  EXPECT_TRUE(Activate(nothing, L"", L"", 63));
  EXPECT_THAT(nothing.calls, IsEmpty());
}

TEST(ActivateProduct, RegistryThenEnvironment) {
  RecordingSteps registry;
  EXPECT_TRUE(Activate(registry, L"", L"B", 2));
  EXPECT_THAT(registry.calls,
              ElementsAre(L"ActivateRegistry(B)", L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  // The environment bit adds no second environment step.
  RecordingSteps both;
  EXPECT_TRUE(Activate(both, L"", L"B", 34));
  EXPECT_THAT(both.calls, ElementsAre(L"ActivateRegistry(B)", L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  RecordingSteps environmentOnly;
  EXPECT_TRUE(Activate(environmentOnly, L"B", L"B", 32));
  EXPECT_THAT(environmentOnly.calls, ElementsAre(L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  // Bits of other kinds, and unknown bits, run nothing of it.
  RecordingSteps others;
  EXPECT_TRUE(Activate(others, L"", L"B", 1 | 4 | 16 | 64));
  EXPECT_THAT(others.calls, testing::Not(testing::Contains(testing::HasSubstr(L"Registry"))));
  EXPECT_THAT(others.calls, testing::Not(testing::Contains(testing::HasSubstr(L"Environment"))));

  RecordingSteps failingRegistry;
  failingRegistry.failing = {L"ActivateRegistry"};
  EXPECT_FALSE(Activate(failingRegistry, L"", L"B", 34));
  EXPECT_THAT(failingRegistry.calls, ElementsAre(L"ActivateRegistry(B)"));

  RecordingSteps failing;
  failing.failing = {L"ActivateEnvironment"};
  EXPECT_FALSE(Activate(failing, L"", L"B", 2));
  EXPECT_THAT(failing.calls, ElementsAre(L"ActivateRegistry(B)", L"ActivateEnvironment(B)"));
}

TEST(ActivateProduct, ProtocolHandlersByTheirBit) {
  RecordingSteps steps;
  EXPECT_TRUE(Activate(steps, L"B", L"B", 8));
  EXPECT_THAT(steps.calls, ElementsAre(L"RegisterProtoHandlers()", L"WriteProductType(B)"));

  // After the registry and environment.
  RecordingSteps withRegistry;
  EXPECT_TRUE(Activate(withRegistry, L"", L"B", 2 | 8));
  EXPECT_THAT(withRegistry.calls, ElementsAre(L"ActivateRegistry(B)", L"ActivateEnvironment(B)",
                                              L"RegisterProtoHandlers()", L"WriteProductType(B)"));

  // A failed registration keeps the type from being stored.
  RecordingSteps failing;
  failing.failing = {L"RegisterProtoHandlers"};
  EXPECT_FALSE(Activate(failing, L"", L"B", 8));
  EXPECT_THAT(failing.calls, ElementsAre(L"RegisterProtoHandlers()"));

  // Without the bit nothing is registered or removed.
  RecordingSteps without;
  EXPECT_TRUE(Activate(without, L"B", L"B", 2));
  EXPECT_THAT(without.calls, testing::Not(testing::Contains(testing::HasSubstr(L"ProtoHandlers"))));
}

TEST(SwitchProductType, RemovesTheOldTypeThenCreatesTheNewOne) {
  RecordingSteps steps;
  EXPECT_TRUE(qvr::RunSwitchProductType(steps, L"A", L"B"));
  EXPECT_THAT(steps.calls, ElementsAre(L"UnregisterPlugins(A)", L"DeactivateRegistry(A)", L"UnRegisterProtoHandlers()",
                                       L"ActivateProfiles(B)", L"WriteProductType(B)", L"RegisterPlugins(B)",
                                       L"RegisterProtoHandlers()", L"ActivateRegistry(B)", L"ActivateEnvironment(B)"));

  // The same type is removed and created again.
  RecordingSteps same;
  EXPECT_TRUE(qvr::RunSwitchProductType(same, L"A", L"A"));
  EXPECT_THAT(same.calls, ElementsAre(L"UnregisterPlugins(A)", L"DeactivateRegistry(A)", L"UnRegisterProtoHandlers()",
                                      L"ActivateProfiles(A)", L"WriteProductType(A)", L"RegisterPlugins(A)",
                                      L"RegisterProtoHandlers()", L"ActivateRegistry(A)", L"ActivateEnvironment(A)"));

  // Without a target the old type is only removed.
  RecordingSteps empty;
  EXPECT_TRUE(qvr::RunSwitchProductType(empty, L"A", L""));
  EXPECT_THAT(empty.calls,
              ElementsAre(L"UnregisterPlugins(A)", L"DeactivateRegistry(A)", L"UnRegisterProtoHandlers()"));

  // Without a current type nothing is removed.
  RecordingSteps fresh;
  EXPECT_TRUE(qvr::RunSwitchProductType(fresh, L"", L"B"));
  EXPECT_THAT(fresh.calls, ElementsAre(L"ActivateProfiles(B)", L"WriteProductType(B)", L"RegisterPlugins(B)",
                                       L"RegisterProtoHandlers()", L"ActivateRegistry(B)", L"ActivateEnvironment(B)"));

  RecordingSteps failingRemoval;
  failingRemoval.failing = {L"DeactivateRegistry"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingRemoval, L"A", L"B"));
  EXPECT_THAT(failingRemoval.calls, ElementsAre(L"UnregisterPlugins(A)", L"DeactivateRegistry(A)"));

  // A failed unregistration does not count.
  RecordingSteps failingUnregistration;
  failingUnregistration.failing = {L"UnRegisterProtoHandlers"};
  EXPECT_TRUE(qvr::RunSwitchProductType(failingUnregistration, L"A", L"B"));
  EXPECT_EQ(failingUnregistration.calls.size(), 9u);

  RecordingSteps failingRegistration;
  failingRegistration.failing = {L"RegisterProtoHandlers"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingRegistration, L"", L"B"));
  EXPECT_THAT(failingRegistration.calls, ElementsAre(L"ActivateProfiles(B)", L"WriteProductType(B)",
                                                     L"RegisterPlugins(B)", L"RegisterProtoHandlers()"));

  RecordingSteps failingRegistry;
  failingRegistry.failing = {L"ActivateRegistry"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingRegistry, L"", L"B"));
  EXPECT_THAT(failingRegistry.calls, ElementsAre(L"ActivateProfiles(B)", L"WriteProductType(B)", L"RegisterPlugins(B)",
                                                 L"RegisterProtoHandlers()", L"ActivateRegistry(B)"));

  RecordingSteps failingWrite;
  failingWrite.failing = {L"WriteProductType"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingWrite, L"", L"B"));
  EXPECT_THAT(failingWrite.calls, ElementsAre(L"ActivateProfiles(B)", L"WriteProductType(B)"));

  RecordingSteps failingEnvironment;
  failingEnvironment.failing = {L"ActivateEnvironment"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingEnvironment, L"", L"B"));
}

TEST(DeactivateCurrentType, RunsEveryStepAndLeavesTypeAndEnvironmentAlone) {
  RecordingSteps steps;
  EXPECT_TRUE(qvr::RunDeactivateCurrentType(steps, L"A"));
  EXPECT_THAT(steps.calls,
              ElementsAre(L"UnregisterPlugins(A)", L"UnRegisterProtoHandlers()", L"DeactivateRegistry(A)"));

  // An empty current type is passed on as it is.
  RecordingSteps empty;
  EXPECT_TRUE(qvr::RunDeactivateCurrentType(empty, L""));
  EXPECT_THAT(empty.calls, ElementsAre(L"UnregisterPlugins()", L"UnRegisterProtoHandlers()", L"DeactivateRegistry()"));

  // The unregistration's result does not count; the registry's does.
  RecordingSteps failingUnregistration;
  failingUnregistration.failing = {L"UnRegisterProtoHandlers"};
  EXPECT_TRUE(qvr::RunDeactivateCurrentType(failingUnregistration, L"A"));
  EXPECT_EQ(failingUnregistration.calls.size(), 3u);

  RecordingSteps failingRegistry;
  failingRegistry.failing = {L"DeactivateRegistry"};
  EXPECT_FALSE(qvr::RunDeactivateCurrentType(failingRegistry, L"A"));
  EXPECT_EQ(failingRegistry.calls.size(), 3u);
}

TEST(ActivateProduct, ProfilesByTheirBitAndTheOldTypesOnAChange) {
  // The profiles of the old type go first, the new type's come last.
  RecordingSteps change;
  EXPECT_TRUE(Activate(change, L"A", L"B", 16));
  EXPECT_THAT(change.calls, ElementsAre(L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()",
                                        L"ActivateProfiles(B)", L"WriteProductType(B)"));

  // The old type's profiles are removed on a change whatever the mode...
  RecordingSteps withoutBit;
  EXPECT_TRUE(Activate(withoutBit, L"A", L"B", 0));
  EXPECT_THAT(withoutBit.calls, ElementsAre(L"DeactivateProfiles(A)", L"DeactivateCurrentType()",
                                            L"WriteProductType()", L"WriteProductType(B)"));
  // ...but not when there is no new type.
  RecordingSteps noTarget;
  EXPECT_TRUE(Activate(noTarget, L"A", L"", 16));
  EXPECT_THAT(noTarget.calls, ElementsAre(L"DeactivateCurrentType()", L"WriteProductType()"));

  RecordingSteps same;
  EXPECT_TRUE(Activate(same, L"B", L"B", 16));
  EXPECT_THAT(same.calls, ElementsAre(L"ActivateProfiles(B)", L"WriteProductType(B)"));

  // After every other kind of resource, just before the type is stored.
  RecordingSteps all;
  EXPECT_TRUE(Activate(all, L"", L"B", 63));
  ASSERT_GE(all.calls.size(), 3u);
  EXPECT_EQ(all.calls[all.calls.size() - 2], L"ActivateProfiles(B)");
  EXPECT_EQ(all.calls.back(), L"WriteProductType(B)");

  RecordingSteps failingDeactivation;
  failingDeactivation.failing = {L"DeactivateProfiles"};
  EXPECT_FALSE(Activate(failingDeactivation, L"A", L"B", 16));
  EXPECT_THAT(failingDeactivation.calls, ElementsAre(L"DeactivateProfiles(A)"));

  RecordingSteps failingActivation;
  failingActivation.failing = {L"ActivateProfiles"};
  EXPECT_FALSE(Activate(failingActivation, L"", L"B", 16));
  EXPECT_THAT(failingActivation.calls, ElementsAre(L"ActivateProfiles(B)"));
}

TEST(SwitchProductType, ProfilesFirstForTheNewType) {
  RecordingSteps fresh;
  EXPECT_TRUE(qvr::RunSwitchProductType(fresh, L"", L"B"));
  ASSERT_FALSE(fresh.calls.empty());
  EXPECT_EQ(fresh.calls.front(), L"ActivateProfiles(B)");
  EXPECT_THAT(fresh.calls, testing::Not(testing::Contains(L"DeactivateProfiles(A)")));

  RecordingSteps failing;
  failing.failing = {L"ActivateProfiles"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failing, L"", L"B"));
  EXPECT_THAT(failing.calls, ElementsAre(L"ActivateProfiles(B)"));

  // The old type's profiles stay: the full switch writes the new type's.
  RecordingSteps removal;
  EXPECT_TRUE(qvr::RunSwitchProductType(removal, L"A", L""));
  EXPECT_THAT(removal.calls, testing::Not(testing::Contains(testing::HasSubstr(L"Profiles"))));
}

TEST(ActivateProduct, PluginsByTheirBitBeforeProtocolHandlers) {
  RecordingSteps steps;
  EXPECT_TRUE(Activate(steps, L"B", L"B", 1));
  EXPECT_THAT(steps.calls, ElementsAre(L"RegisterPlugins(B)", L"WriteProductType(B)"));

  // After the registry and environment, before protocol handlers and profiles.
  RecordingSteps all;
  EXPECT_TRUE(Activate(all, L"", L"B", 1 | 2 | 8 | 16));
  EXPECT_THAT(all.calls, ElementsAre(L"ActivateRegistry(B)", L"ActivateEnvironment(B)", L"RegisterPlugins(B)",
                                     L"RegisterProtoHandlers()", L"ActivateProfiles(B)", L"WriteProductType(B)"));

  RecordingSteps failing;
  failing.failing = {L"RegisterPlugins"};
  EXPECT_FALSE(Activate(failing, L"", L"B", 1 | 8));
  EXPECT_THAT(failing.calls, ElementsAre(L"RegisterPlugins(B)"));

  // The old type's plugins go with DeactivateCurrentType; without the bit
  // nothing is registered.
  RecordingSteps change;
  EXPECT_TRUE(Activate(change, L"A", L"B", 2 | 8 | 16));
  EXPECT_THAT(change.calls, testing::Not(testing::Contains(testing::HasSubstr(L"Plugins"))));
}

TEST(SwitchProductType, PluginsOfTheOldTypeFirstAndOfTheNewOneAfterItIsStored) {
  RecordingSteps failingUnregistration;
  failingUnregistration.failing = {L"UnregisterPlugins"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingUnregistration, L"A", L"B"));
  EXPECT_THAT(failingUnregistration.calls, ElementsAre(L"UnregisterPlugins(A)"));

  RecordingSteps failingRegistration;
  failingRegistration.failing = {L"RegisterPlugins"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingRegistration, L"A", L"B"));
  EXPECT_THAT(failingRegistration.calls,
              ElementsAre(L"UnregisterPlugins(A)", L"DeactivateRegistry(A)", L"UnRegisterProtoHandlers()",
                          L"ActivateProfiles(B)", L"WriteProductType(B)", L"RegisterPlugins(B)"));
}

TEST(DeactivateCurrentType, FailedPluginRemovalCountsAndTheOthersStillRun) {
  RecordingSteps steps;
  steps.failing = {L"UnregisterPlugins"};
  EXPECT_FALSE(qvr::RunDeactivateCurrentType(steps, L"A"));
  EXPECT_THAT(steps.calls,
              ElementsAre(L"UnregisterPlugins(A)", L"UnRegisterProtoHandlers()", L"DeactivateRegistry(A)"));
}

TEST(DeactivateCurrentType, LeavesProfilesAlone) {
  RecordingSteps steps;
  qvr::RunDeactivateCurrentType(steps, L"A");
  EXPECT_THAT(steps.calls, testing::Not(testing::Contains(testing::HasSubstr(L"Profiles"))));
}

}  // namespace

// A failure after K was removed stores N, so that the rollback finds it; a
// failure before the removal, or without a type change, stores nothing.
TEST(ActivationSequences, FailureAfterTheOldTypeWasRemovedStoresTheNewType) {
  struct Case {
    const wchar_t* current;
    const wchar_t* failing;
    bool fullSwitch;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {L"A", L"ActivateRegistry", false,
       {L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()", L"ActivateRegistry(B)",
        L"WriteProductType(B)"}},
      {L"A", L"RegisterPlugins", false,
       {L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()", L"ActivateRegistry(B)",
        L"ActivateEnvironment(B)", L"RegisterPlugins(B)", L"WriteProductType(B)"}},
      {L"A", L"ActivateProfiles", false,
       {L"DeactivateProfiles(A)", L"DeactivateCurrentType()", L"WriteProductType()", L"ActivateRegistry(B)",
        L"ActivateEnvironment(B)", L"RegisterPlugins(B)", L"RegisterProtoHandlers()", L"ActivateProfiles(B)",
        L"WriteProductType(B)"}},
      {L"A", L"DeactivateProfiles", false, {L"DeactivateProfiles(A)"}},
      {L"", L"ActivateRegistry", false, {L"ActivateRegistry(B)"}},
      {L"B", L"RegisterPlugins", false,
       {L"ActivateRegistry(B)", L"ActivateEnvironment(B)", L"RegisterPlugins(B)"}},
      {L"A", L"ActivateProfiles", true,
       {L"UnregisterPlugins(A)", L"DeactivateRegistry(A)", L"UnRegisterProtoHandlers()", L"ActivateProfiles(B)",
        L"WriteProductType(B)"}},
      {L"B", L"ActivateProfiles", true,
       {L"UnregisterPlugins(B)", L"DeactivateRegistry(B)", L"UnRegisterProtoHandlers()", L"ActivateProfiles(B)"}},
  };
  for (const Case& c : cases) {
    RecordingSteps steps;
    steps.failing = {c.failing};
    if (c.fullSwitch) {
      EXPECT_FALSE(qvr::RunSwitchProductType(steps, c.current, L"B"));
    } else {
      EXPECT_FALSE(Activate(steps, c.current, L"B", 1 | 2 | 8 | 16));
    }
    EXPECT_EQ(steps.calls, c.calls) << testing::PrintToString(c.current) << " " << testing::PrintToString(c.failing);
  }
}
