// Plugin self-registration through the installer object, against a product
// of its own: the Selfregs and Selfunregs declarations read from the
// registry, the command lines run as processes, and their outcomes.
#include "Custom_Actions/qvrinst/installer.h"

#include "tests/support/recording_sink.h"
#include "tests/support/test_product.h"
#include "tests/unit/win/plugins/probe_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using plugintest::ProbeRecord;
using plugintest::TestLocator;
using qvr::PluginCommandTable;
using qvr::PluginDirection;
using qvrtest::RecordingSink;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr const wchar_t* kSelfregs = L"Installer\\Selfregs";
constexpr const wchar_t* kSelfunregs = L"Installer\\Selfunregs";

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

// The texts of `sink` that start with one of `prefixes`, in order.
std::vector<std::wstring> Starting(const RecordingSink& sink, std::initializer_list<const wchar_t*> prefixes) {
  std::vector<std::wstring> texts;
  for (const auto& text : sink.Texts())
    for (const wchar_t* prefix : prefixes)
      if (text.rfind(prefix, 0) == 0) texts.push_back(text);
  return texts;
}

// A value that cannot be read, or is empty, costs only that declaration, and
// so does a name too long for one; the key's default value declares nothing.
TEST(PluginDeclarations, ReadersKeepWhatTheyCanRead) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  const std::wstring command = L"C:\\qvr-plugin\\register.exe /s";
  product.SetString(kSelfregs, L"first", command);
  product.SetString(kSelfregs, L"blank", L"");
  product.SetString(kSelfregs, L"expand", command, REG_EXPAND_SZ);
  product.SetDword(kSelfregs, L"number", 1);
  product.SetString(kSelfregs, L"", command);
  product.SetString(kSelfregs, std::wstring(300, L'n').c_str(), command);
  product.SetString(kSelfregs, L"last", command + L" last");
  product.SetString(kSelfunregs, L"undo", command);
  product.SetString(kSelfunregs, L"blank", L"");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_EQ(installer.Plugins().Commands(PluginDirection::kRegister),
            (PluginCommandTable{{L"first", command}, {L"last", command + L" last"}}));
  EXPECT_EQ(installer.Plugins().Commands(PluginDirection::kUnregister), (PluginCommandTable{{L"undo", command}}));
  EXPECT_THAT(sink.Texts(qvr::kLogError), Contains(L"ReadSelfregs: can't enum selfregs key: 0x000000ea"));
}

TEST(PluginDeclarations, MissingKeysGiveEmptyTables) {
  TestProduct product(TestName());
  for (const wchar_t* key : {L"environment", L"Installer\\features", L"Installer\\profiles", L"Installer\\drivers",
                             L"Installer\\ProtoHandlers", L"Installer\\registry"})
    product.CreateKey(key);
  RecordingSink sink;
  qvr::Installer installer;
  EXPECT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_THAT(installer.Plugins().Commands(PluginDirection::kRegister), IsEmpty());
  EXPECT_THAT(installer.Plugins().Commands(PluginDirection::kUnregister), IsEmpty());
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ReadSelfregs: can't open selfreg key: 0x00000002",
                                                      L"ReadSelfUnregs: can't open selfunreg key: 0x00000002"));
}

// Both directions with the host's locator: a command that cannot be started
// or exits with another code than 0 is logged as failed, and the next one
// still runs.
TEST(RegisterPlugins, RunsTheCommandsOneAfterAnotherAndLogsTheFailedOnes) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  const std::wstring missing = L"C:\\qvr-no-such-folder\\register.exe /s";
  const std::wstring exits5 = record.Command(L"exit=5 b");
  product.SetString(kSelfregs, L"a", missing);
  product.SetString(kSelfregs, L"b", exits5);
  product.SetString(kSelfregs, L"c", record.Command(L"c"));
  product.SetString(kSelfunregs, L"u", record.Command(L"u"));
  product.AddFeature(L"F", L"kis");
  product.SetString(L"Installer\\features\\F", L"Selfregs", L"a b undeclared c");
  product.SetString(L"Installer\\features\\F", L"SelfUnregs", L"u");

  RecordingSink sink;
  TestLocator locator;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  static_cast<qvr::VersionedInstaller&>(installer).SetServiceLocator(&locator);  // as a host does
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));

  EXPECT_THAT(record.Arguments(), ElementsAre(L"exit=5 b", L"c", L"u"));
  EXPECT_EQ(locator.grants.size(), 3u);
  EXPECT_THAT(Starting(sink, {L"RegisterPlugins: ", L"RegisterPluginImpl: Exec", L"Une", L"UnregisterPlugins: ",
                              L"UnregisterPluginImpl: Exec"}),
              ElementsAre(L"RegisterPlugins: self-registering a requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 1, retcode: 0",
                          L"RegisterPlugins: self-registering " + missing + L" failed",
                          L"RegisterPlugins: self-registering b requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 5",
                          L"RegisterPlugins: self-registering " + exits5 + L" failed",
                          L"RegisterPlugins: self-registering c requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0",
                          L"UnegisterPlugins: unself-registering u requested by feature F",
                          L"UnregisterPluginImpl: Exec function execret: 0, retcode: 0"));
}

// A host's callback that throws ends the operation at its edge: false, the
// line, no registration.
TEST(RegisterPlugins, ThrowingHostCallbackFailsTheActivation) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  product.SetString(kSelfregs, L"p1", record.Command(L"p1"));
  product.AddFeature(L"A", L"kis");
  product.SetString(L"Installer\\features\\A", L"Selfregs", L"p1");

  RecordingSink sink;
  TestLocator locator(plugintest::ThrowAt::kGrantWaiver);
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  installer.SetServiceLocator(&locator);
  sink.lines.clear();
  EXPECT_FALSE(installer.ActivateProduct(qvr::kActivatePlugins));
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ActivateProduct: unexpected exception: GrantWaiver failed"));
  EXPECT_THAT(record.Runs(), IsEmpty());
}

}  // namespace
