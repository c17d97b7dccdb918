#include "Custom_Actions/qvrinst/activation_sequences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_sink.h"

namespace {

// Records every step as "Name(argument)", space-separated; the step named `failing` returns false.
class RecordingSteps final : public qvr::ActivationSteps {
 public:
  explicit RecordingSteps(std::wstring failing) : failing_(std::move(failing)) {}
  std::wstring calls;

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
  bool EnableDrivers(const std::wstring& type) override { return Call(L"EnableDrivers", type); }
  bool DisableDrivers(const std::wstring& type) override { return Call(L"DisableDrivers", type); }
  bool ActivateStartMenu(const std::wstring& type) override { return Call(L"ActivateStartMenu", type); }
  bool CreateDesktopShortcuts() override { return Call(L"CreateDesktopShortcuts", L""); }
  bool RemoveProductShortcuts() override { return Call(L"RemoveProductShortcuts", L""); }

 private:
  bool Call(const std::wstring& name, const std::wstring& argument) {
    calls += (calls.empty() ? L"" : L" ") + name + L"(" + argument + L")";
    return name != failing_;
  }
  std::wstring failing_;
};

class FormatSink final : public qvr::LogSink {
 public:
  std::vector<std::wstring> formats;
  bool IsEnabled() override { return true; }
  void Write(int, const wchar_t* format, ...) override { formats.emplace_back(format); }
};

enum class Sequence { kActivate, kSwitch, kDeactivate };

constexpr qvr::ActivationMode kPlugins = qvr::kActivatePlugins, kRegistry = qvr::kActivateRegistry,
                              kShortcuts = qvr::kActivateShortcuts, kProtocols = qvr::kActivateProtocolHandlers,
                              kProfiles = qvr::kActivateProfiles, kEnvironment = qvr::kActivateEnvironmentOnly;

// Every sequence against the steps it calls, in order, for the current type K, the target N, the mode and the one
// step that fails. A failure once K's resources are gone still stores N, so that the rollback finds it.
TEST(ActivationSequences, StepsInOrderForEveryTypeModeAndFailure) {
  using enum Sequence;
  struct Row {
    Sequence sequence;
    const wchar_t* current;
    const wchar_t* target;
    qvr::ActivationMode mode;
    const wchar_t* failing;
    bool result;
    const wchar_t* calls;
  } rows[] = {
      // ActivateProduct: nothing without a type.
      {kActivate, L"", L"", 63, L"", true, L""},
      // A change removes K first, its profiles whatever the mode.
      {kActivate, L"A", L"B", 0, L"", true,
       L"DeactivateProfiles(A) DeactivateCurrentType() WriteProductType() WriteProductType(B)"},
      {kActivate, L"A", L"B", kRegistry, L"DeactivateCurrentType", false,
       L"DeactivateProfiles(A) DeactivateCurrentType()"},
      // Without a new type the removal is best effort and keeps the profiles.
      {kActivate, L"A", L"", 63, L"DeactivateCurrentType", true, L"DeactivateCurrentType() WriteProductType()"},
      // Each kind by its bit, the type stored last; unknown bits only store the type again.
      {kActivate, L"", L"B", 63, L"", true,
       L"ActivateRegistry(B) ActivateEnvironment(B) ActivateStartMenu(B) CreateDesktopShortcuts() RegisterPlugins(B) "
       L"RegisterProtoHandlers() ActivateProfiles(B) WriteProductType(B)"},
      {kActivate, L"B", L"B", kEnvironment, L"", true, L"ActivateEnvironment(B) WriteProductType(B)"},
      {kActivate, L"B", L"B", kPlugins, L"", true, L"RegisterPlugins(B) WriteProductType(B)"},
      {kActivate, L"B", L"B", kProtocols, L"", true, L"RegisterProtoHandlers() WriteProductType(B)"},
      {kActivate, L"B", L"B", kProfiles, L"", true, L"ActivateProfiles(B) WriteProductType(B)"},
      {kActivate, L"B", L"B", 64, L"", true, L"WriteProductType(B)"},
      // Shortcuts that cannot be copied do not end the activation.
      {kActivate, L"B", L"B", kShortcuts, L"ActivateStartMenu", true,
       L"ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B)"},
      // A failing kind ends the activation; N is stored only after a change.
      {kActivate, L"", L"B", kRegistry, L"ActivateEnvironment", false, L"ActivateRegistry(B) ActivateEnvironment(B)"},
      {kActivate, L"A", L"B", 63, L"ActivateRegistry", false,
       L"DeactivateProfiles(A) DeactivateCurrentType() WriteProductType() ActivateRegistry(B) WriteProductType(B)"},
      {kActivate, L"A", L"B", 63, L"ActivateProfiles", false,
       L"DeactivateProfiles(A) DeactivateCurrentType() WriteProductType() ActivateRegistry(B) ActivateEnvironment(B) "
       L"ActivateStartMenu(B) CreateDesktopShortcuts() RegisterPlugins(B) RegisterProtoHandlers() ActivateProfiles(B) "
       L"WriteProductType(B)"},
      // SwitchProductType: K's resources removed, N's created, its profiles first and N stored before its
      // plugins; each failure ends it but those of the shortcuts and the protocol handlers' removal.
      {kSwitch, L"A", L"B", 0, L"", true,
       L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A) DeactivateRegistry(A) UnRegisterProtoHandlers() "
       L"ActivateProfiles(B) ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B) RegisterPlugins(B) "
       L"EnableDrivers(B) RegisterProtoHandlers() ActivateRegistry(B) ActivateEnvironment(B)"},
      {kSwitch, L"A", L"B", 0, L"DisableDrivers", false, L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A)"},
      {kSwitch, L"A", L"B", 0, L"DeactivateRegistry", false,
       L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A) DeactivateRegistry(A)"},
      {kSwitch, L"A", L"", 0, L"UnRegisterProtoHandlers", true,
       L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A) DeactivateRegistry(A) UnRegisterProtoHandlers()"},
      {kSwitch, L"A", L"", 0, L"RemoveProductShortcuts", true,
       L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A) DeactivateRegistry(A) UnRegisterProtoHandlers()"},
      {kSwitch, L"A", L"B", 0, L"ActivateProfiles", false,
       L"RemoveProductShortcuts() UnregisterPlugins(A) DisableDrivers(A) DeactivateRegistry(A) UnRegisterProtoHandlers() "
       L"ActivateProfiles(B) WriteProductType(B)"},
      {kSwitch, L"B", L"B", 0, L"ActivateProfiles", false,
       L"RemoveProductShortcuts() UnregisterPlugins(B) DisableDrivers(B) DeactivateRegistry(B) UnRegisterProtoHandlers() "
       L"ActivateProfiles(B)"},
      {kSwitch, L"", L"B", 0, L"CreateDesktopShortcuts", true,
       L"ActivateProfiles(B) ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B) RegisterPlugins(B) "
       L"EnableDrivers(B) RegisterProtoHandlers() ActivateRegistry(B) ActivateEnvironment(B)"},
      {kSwitch, L"", L"B", 0, L"EnableDrivers", false,
       L"ActivateProfiles(B) ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B) RegisterPlugins(B) "
       L"EnableDrivers(B)"},
      {kSwitch, L"", L"B", 0, L"ActivateEnvironment", false,
       L"ActivateProfiles(B) ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B) RegisterPlugins(B) "
       L"EnableDrivers(B) RegisterProtoHandlers() ActivateRegistry(B) ActivateEnvironment(B)"},
      {kSwitch, L"", L"B", 0, L"RegisterPlugins", false,
       L"ActivateProfiles(B) ActivateStartMenu(B) CreateDesktopShortcuts() WriteProductType(B) RegisterPlugins(B)"},
      // DeactivateCurrentType: every step runs; the protocol handlers' result does not count; the type,
      // environment and profiles stay (the empty type: CustomActions in installer_test).
      {kDeactivate, L"A", L"", 0, L"RemoveProductShortcuts", false,
       L"RemoveProductShortcuts() UnregisterPlugins(A) UnRegisterProtoHandlers() DeactivateRegistry(A)"},
      {kDeactivate, L"A", L"", 0, L"UnregisterPlugins", false,
       L"RemoveProductShortcuts() UnregisterPlugins(A) UnRegisterProtoHandlers() DeactivateRegistry(A)"},
      {kDeactivate, L"A", L"", 0, L"UnRegisterProtoHandlers", true,
       L"RemoveProductShortcuts() UnregisterPlugins(A) UnRegisterProtoHandlers() DeactivateRegistry(A)"},
      {kDeactivate, L"A", L"", 0, L"DeactivateRegistry", false,
       L"RemoveProductShortcuts() UnregisterPlugins(A) UnRegisterProtoHandlers() DeactivateRegistry(A)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row of " << testing::PrintToString(row.calls));
    RecordingSteps steps(row.failing);
    FormatSink sink;
    bool result = false;
    switch (row.sequence) {
      case kActivate:
        result = qvr::RunActivateProduct(steps, &sink, row.current, row.target, row.mode);
        EXPECT_EQ(sink.formats, std::vector<std::wstring>{L"ActivateProduct entry point"});
        break;
      case kSwitch:
        result = qvr::RunSwitchProductType(steps, row.current, row.target);
        break;
      case kDeactivate:
        result = qvr::RunDeactivateCurrentType(steps, row.current);
        break;
    }
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(steps.calls, row.calls);
  }
}

}  // namespace
