#include "Custom_Actions/qvrinst/activation_sequences.h"

#include "Custom_Actions/qvrinst/log_sink.h"

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
  EXPECT_THAT(steps.calls, ElementsAre(L"DeactivateCurrentType()", L"WriteProductType()", L"WriteProductType(B)"));

  // With a new type, a failed removal ends the sequence.
  RecordingSteps failingDeactivation;
  failingDeactivation.failing = {L"DeactivateCurrentType"};
  EXPECT_FALSE(Activate(failingDeactivation, L"A", L"B", 2));
  EXPECT_THAT(failingDeactivation.calls, ElementsAre(L"DeactivateCurrentType()"));

  RecordingSteps failingRemoval;
  failingRemoval.failing = {L"WriteProductType"};
  EXPECT_FALSE(Activate(failingRemoval, L"A", L"B", 2));
  EXPECT_THAT(failingRemoval.calls, ElementsAre(L"DeactivateCurrentType()", L"WriteProductType()"));
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

TEST(ActivateProduct, EnvironmentByRegistryOrEnvironmentBit) {
  RecordingSteps registry;
  EXPECT_TRUE(Activate(registry, L"", L"B", 2));
  EXPECT_THAT(registry.calls, ElementsAre(L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  RecordingSteps both;
  EXPECT_TRUE(Activate(both, L"", L"B", 34));
  EXPECT_THAT(both.calls, ElementsAre(L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  RecordingSteps environmentOnly;
  EXPECT_TRUE(Activate(environmentOnly, L"B", L"B", 32));
  EXPECT_THAT(environmentOnly.calls, ElementsAre(L"ActivateEnvironment(B)", L"WriteProductType(B)"));

  // Bits of kinds other than the environment, and unknown bits, run nothing of it.
  RecordingSteps others;
  EXPECT_TRUE(Activate(others, L"", L"B", 1 | 4 | 8 | 16 | 64));
  EXPECT_THAT(others.calls, ElementsAre(L"WriteProductType(B)"));

  RecordingSteps failing;
  failing.failing = {L"ActivateEnvironment"};
  EXPECT_FALSE(Activate(failing, L"", L"B", 2));
  EXPECT_THAT(failing.calls, ElementsAre(L"ActivateEnvironment(B)"));
}

TEST(SwitchProductType, StoresTheTypeThenItsEnvironment) {
  RecordingSteps steps;
  EXPECT_TRUE(qvr::RunSwitchProductType(steps, L"A", L"B"));
  EXPECT_THAT(steps.calls, ElementsAre(L"WriteProductType(B)", L"ActivateEnvironment(B)"));

  RecordingSteps empty;
  EXPECT_TRUE(qvr::RunSwitchProductType(empty, L"A", L""));
  EXPECT_THAT(empty.calls, IsEmpty());

  RecordingSteps failingWrite;
  failingWrite.failing = {L"WriteProductType"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingWrite, L"", L"B"));
  EXPECT_THAT(failingWrite.calls, ElementsAre(L"WriteProductType(B)"));

  RecordingSteps failingEnvironment;
  failingEnvironment.failing = {L"ActivateEnvironment"};
  EXPECT_FALSE(qvr::RunSwitchProductType(failingEnvironment, L"", L"B"));
}

TEST(DeactivateCurrentType, LeavesTypeAndEnvironmentAlone) {
  RecordingSteps steps;
  EXPECT_TRUE(qvr::RunDeactivateCurrentType(steps, L"A"));
  EXPECT_TRUE(qvr::RunDeactivateCurrentType(steps, L""));
  EXPECT_THAT(steps.calls, IsEmpty());
}

}  // namespace
