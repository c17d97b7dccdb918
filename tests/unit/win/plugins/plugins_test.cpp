// Plugin self-registration through the installer object, against a product
// of its own: the Selfregs and Selfunregs declarations, the commands run for
// the qualifying features, and their outcomes.
#include "Custom_Actions/qvrinst/installer.h"
#include "activators/process_launcher.h"

#include "tests/support/recording_sink.h"
#include "tests/support/test_product.h"
#include "tests/unit/win/plugins/probe_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using plugintest::ProbeRecord;
using plugintest::RecordingLocator;
using qvrtest::RecordingSink;
using qvrtest::TestProduct;
using testing::Contains;
using testing::Each;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using testing::UnorderedElementsAre;

constexpr const wchar_t* kSelfregs = L"Installer\\Selfregs";
constexpr const wchar_t* kSelfunregs = L"Installer\\Selfunregs";

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

std::wstring Feature(const std::wstring& name) { return L"Installer\\features\\" + name; }

// The lines whose text starts with `prefix`, in order.
std::vector<std::wstring> LinesStartingWith(const RecordingSink& sink, const std::wstring& prefix) {
  std::vector<std::wstring> texts;
  for (const auto& text : sink.Texts())
    if (text.rfind(prefix, 0) == 0) texts.push_back(text);
  return texts;
}

TEST(PluginDeclarations, ReadersKeepWhatTheyCanRead) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  const std::wstring first = record.Command(L"first");
  const std::wstring last = record.Command(L"last");
  product.SetString(kSelfregs, L"first", first);
  product.SetString(kSelfregs, L"blank", L"");
  product.SetString(kSelfregs, L"expand", first, REG_EXPAND_SZ);
  product.SetDword(kSelfregs, L"number", 1);
  product.SetString(kSelfregs, L"", first);  // the key's default value is no declaration
  product.SetString(kSelfregs, std::wstring(300, L'n').c_str(), first);
  product.SetString(kSelfregs, L"last", last);
  product.SetString(kSelfunregs, L"undo", first);
  product.SetString(kSelfunregs, L"blank", L"");
  product.SetString(kSelfunregs, L"expand", first, REG_EXPAND_SZ);

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_EQ(installer.Plugins().Commands(qvr::PluginDirection::kRegister), (qvr::PluginCommandTable{{L"first", first}, {L"last", last}}));
  EXPECT_EQ(installer.Plugins().Commands(qvr::PluginDirection::kUnregister), (qvr::PluginCommandTable{{L"undo", first}}));

  EXPECT_THAT(LinesStartingWith(sink, L"ReadSelfregs: selfreg "),
              UnorderedElementsAre(L"ReadSelfregs: selfreg first = " + first, L"ReadSelfregs: selfreg last = " + last));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), Contains(L"ReadSelfUnregs: SelfUnreg undo = " + first));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              testing::IsSupersetOf({
                  std::wstring(L"ReadSelfregs: value blank is empty"),
                  std::wstring(L"ReadSelfregs: can't query value expand: 0x0000065d"),
                  std::wstring(L"ReadSelfregs: can't query value number: 0x0000065d"),
                  // A name longer than a declaration's is passed over.
                  std::wstring(L"ReadSelfregs: can't enum selfregs key: 0x000000ea"),
                  std::wstring(L"ReadSelfUnregs: can't query value blank is empty"),
                  std::wstring(L"ReadSelfUnregs: can't query value expand: 0x0000065d"),
              }));
}

TEST(PluginDeclarations, MissingKeysGiveEmptyTables) {
  TestProduct product(TestName());
  // Every declaration key but the self-registration ones.
  for (const wchar_t* key : {L"features", L"profiles", L"drivers", L"ProtoHandlers", L"registry"})
    product.CreateKey(std::wstring(L"Installer\\") + key);
  RecordingSink sink;
  qvr::Installer installer;
  EXPECT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_THAT(installer.Plugins().Commands(qvr::PluginDirection::kRegister), IsEmpty());
  EXPECT_THAT(installer.Plugins().Commands(qvr::PluginDirection::kUnregister), IsEmpty());
  EXPECT_THAT(sink.Texts(qvr::kLogError), testing::IsSupersetOf({
                                              std::wstring(L"ReadSelfregs: can't open selfreg key: 0x00000002"),
                                              std::wstring(L"ReadSelfUnregs: can't open selfunreg key: 0x00000002"),
                                          }));
  // Nothing declared, nothing run.
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));
  EXPECT_THAT(sink.Texts(), ElementsAre(L"RegisterPlugins:entry point", L"UnregisterPlugins:entry point"));
}

TEST(PluginDeclarations, ReadAfterTheFeatures) {
  TestProduct product(TestName());
  ProbeRecord record;
  product.SetString(kSelfregs, L"p1", record.Command(L"p1"));
  // Without a features key Initialize stops before the declarations.
  qvr::Installer installer;
  EXPECT_FALSE(installer.Initialize(nullptr, L"kis", nullptr));
  EXPECT_THAT(installer.Plugins().Commands(qvr::PluginDirection::kRegister), IsEmpty());
}

TEST(RegisterPlugins, OncePerQualifyingFeatureAndNameInFeatureOrder) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  for (const wchar_t* name : {L"p1", L"p2", L"p3"}) product.SetString(kSelfregs, name, record.Command(name));
  product.SetString(kSelfunregs, L"u1", record.Command(L"u1"));
  product.AddFeature(L"A", L"kis vmobpc");
  product.SetString(Feature(L"A"), L"Selfregs", L"p2 p1 undeclared p2");
  product.SetString(Feature(L"A"), L"SelfUnregs", L"u1");
  product.AddFeature(L"B", L"vmobpc", false);
  product.SetString(Feature(L"B"), L"Selfregs", L"p1");
  product.AddFeature(L"C", L"kis");
  product.SetString(Feature(L"C"), L"Selfregs", L"p3");
  product.AddFeature(L"D", L"vmobpc");
  product.SetString(Feature(L"D"), L"Selfregs", L"p1");
  product.AddFeature(L"E", L"VMOBPC");
  product.SetString(Feature(L"E"), L"Selfregs", L"p3");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"vmobpc"));

  // A name listed twice by a feature, or by two features, runs each time.
  EXPECT_THAT(record.Arguments(), ElementsAre(L"p2", L"p1", L"p2", L"p1"));
  EXPECT_THAT(LinesStartingWith(sink, L"RegisterPlugins"),
              ElementsAre(L"RegisterPlugins:entry point", L"RegisterPlugins: self-registering p2 requested by feature A",
                          L"RegisterPlugins: self-registering p1 requested by feature A",
                          L"RegisterPlugins: self-registering p2 requested by feature A",
                          L"RegisterPlugins: self-registering p1 requested by feature D"));
  EXPECT_FALSE(sink.Has(L"undeclared"));
  EXPECT_THAT(sink.Texts(qvr::kLogDetail),
              ElementsAre(L"RegisterPluginImpl: executing " + record.Command(L"p2"),
                          L"RegisterPluginImpl: executing " + record.Command(L"p1"),
                          L"RegisterPluginImpl: executing " + record.Command(L"p2"),
                          L"RegisterPluginImpl: executing " + record.Command(L"p1")));
  EXPECT_THAT(LinesStartingWith(sink, L"RegisterPluginImpl: Exec"),
              ElementsAre(L"RegisterPluginImpl: Exec function execret: 0, retcode: 0",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0"));
  EXPECT_EQ(LinesStartingWith(sink, L"RegisterPluginImpl:entry point").size(), 4u);
  // No service locator: each launch says so and runs anyway.
  EXPECT_EQ(LinesStartingWith(sink, L"m_sl = null").size(), 4u);
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
}

TEST(UnregisterPlugins, OncePerQualifyingFeatureAndName) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  for (const wchar_t* name : {L"u1", L"u2"}) product.SetString(kSelfunregs, name, record.Command(name));
  product.SetString(kSelfregs, L"u1", record.Command(L"registration"));
  product.AddFeature(L"A", L"kis");
  product.SetString(Feature(L"A"), L"SelfUnregs", L"u1 u2");
  product.SetString(Feature(L"A"), L"Selfregs", L"u1");
  // No ProductTypes: the feature counts for the empty product type.
  product.SetString(Feature(L"NoTypes"), L"SelfUnregs", L"u2");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L""));

  EXPECT_THAT(record.Arguments(), ElementsAre(L"u1", L"u2", L"u2"));
  EXPECT_THAT(LinesStartingWith(sink, L"Une"),
              ElementsAre(L"UnegisterPlugins: unself-registering u1 requested by feature A",
                          L"UnegisterPlugins: unself-registering u2 requested by feature A",
                          L"UnegisterPlugins: unself-registering u2 requested by feature NoTypes"));
  EXPECT_THAT(LinesStartingWith(sink, L"UnregisterPlugins"),
              ElementsAre(L"UnregisterPlugins:entry point", L"UnregisterPlugins:entry point"));
  EXPECT_THAT(sink.Texts(qvr::kLogDetail), Contains(L"UnregisterPluginImpl: executing " + record.Command(L"u1")));
  EXPECT_THAT(LinesStartingWith(sink, L"UnregisterPluginImpl: Exec"),
              Each(L"UnregisterPluginImpl: Exec function execret: 0, retcode: 0"));
  EXPECT_EQ(LinesStartingWith(sink, L"UnregisterPluginImpl:entry point").size(), 3u);
}

TEST(RegisterPlugins, FailedCommandsAreLoggedAndTheNextOneRuns) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  const std::wstring missing = L"C:\\qvr-no-such-folder\\register.exe /s";
  product.SetString(kSelfregs, L"a_missing", missing);
  product.SetString(kSelfregs, L"b_exit", record.Command(L"exit=5 b"));
  product.SetString(kSelfregs, L"c_hang", record.Command(L"hang"));
  product.SetString(kSelfregs, L"d_last", record.Command(L"d"));
  product.AddFeature(L"F", L"vmobpc");
  product.SetString(Feature(L"F"), L"Selfregs", L"a_missing b_exit c_hang d_last");

  RecordingSink sink;
  RecordingLocator locator(&record);
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  installer.SetServiceLocator(&locator);
  // The commands that end must end within the shortened limit: one run of
  // the probe first takes a cold start of the prefix out of their time.
  std::uint32_t warmUpExit = 1;
  ASSERT_EQ(qvr::ProcessLauncher(nullptr, nullptr).Run(record.Command(L"exit=0 warm-up"), warmUpExit),
            qvr::LaunchResult::kCompleted);
  installer.SetPluginTimeLimit(3000);
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"vmobpc"));

  EXPECT_THAT(LinesStartingWith(sink, L"RegisterPluginImpl: Exec"),
              ElementsAre(L"RegisterPluginImpl: Exec function execret: 1, retcode: 0",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 5",
                          L"RegisterPluginImpl: Exec function execret: 2, retcode: 0",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"RegisterPlugins: self-registering " + missing + L" failed",
                          L"RegisterPlugins: self-registering " + record.Command(L"exit=5 b") + L" failed",
                          L"RegisterPlugins: self-registering " + record.Command(L"hang") + L" failed"));

  // Three processes were created in declaration order (the grants name
  // them); the last one was created after the hung one was given up, which
  // is still running.
  ASSERT_EQ(locator.grants.size(), 3u);
  const DWORD hung = locator.grants[1].processId;
  EXPECT_TRUE(plugintest::IsRunning(hung));
  std::vector<plugintest::ProbeRun> ended;
  for (const auto& run : record.Runs())
    if (run.processId != hung && run.arguments != L"exit=0 warm-up") ended.push_back(run);
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_EQ(ended[0].arguments, L"exit=5 b");
  EXPECT_EQ(ended[0].processId, locator.grants[0].processId);
  EXPECT_EQ(ended[1].arguments, L"d");
  EXPECT_EQ(ended[1].processId, locator.grants[2].processId);
  plugintest::Kill(hung);
}

TEST(RegisterPlugins, HostLocatorGrantsEachProcessBeforeItStarts) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  product.SetString(kSelfregs, L"p1", record.Command(L"p1"));
  product.SetString(kSelfunregs, L"u1", record.Command(L"u1"));
  product.AddFeature(L"A", L"kis");
  product.SetString(Feature(L"A"), L"Selfregs", L"p1 p1");
  product.SetString(Feature(L"A"), L"SelfUnregs", L"u1");

  RecordingSink sink;
  RecordingLocator locator(&record);
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  // As a host does, through the interface.
  static_cast<qvr::VersionedInstaller&>(installer).SetServiceLocator(&locator);
  EXPECT_TRUE(installer.RegisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));

  const auto runs = record.Runs();
  ASSERT_EQ(runs.size(), 3u);
  ASSERT_EQ(locator.grants.size(), 3u);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(locator.grants[i].processId, runs[i].processId) << "run " << i;
    EXPECT_TRUE(locator.grants[i].suspended) << "run " << i;
    EXPECT_FALSE(locator.grants[i].alreadyRan) << "run " << i;
    EXPECT_TRUE(locator.grants[i].endedAtRelease) << "run " << i;
  }
  EXPECT_EQ(locator.releases, 3);
  EXPECT_EQ(LinesStartingWith(sink, L"Set waiver result: 0x00000000").size(), 3u);
  EXPECT_THAT(sink.Texts(), Not(Contains(L"m_sl = null")));
}

// A host's callback that throws ends the operation at its edge: false, the
// line, no registration.
TEST(RegisterPlugins, ThrowingHostCallbackFailsTheActivation) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  product.SetString(kSelfregs, L"p1", record.Command(L"p1"));
  product.AddFeature(L"A", L"kis");
  product.SetString(Feature(L"A"), L"Selfregs", L"p1");

  RecordingSink sink;
  plugintest::ThrowingLocator locator(plugintest::ThrowAt::kGrantWaiver, true);
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  installer.SetServiceLocator(&locator);
  sink.lines.clear();
  EXPECT_FALSE(installer.ActivateProduct(qvr::kActivatePlugins));
  EXPECT_THAT(sink.Texts(3), ElementsAre(L"ActivateProduct: unexpected exception: GrantWaiver failed"));
  EXPECT_THAT(record.Runs(), IsEmpty());
}

}  // namespace
