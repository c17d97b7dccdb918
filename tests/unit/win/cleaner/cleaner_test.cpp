// The bridge to the cleaner library and the installer object's side of it,
// with packs made by gcab (testdata/cleaner) and the built cleanapi.dll.
#include "cleaner/cleaner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <regex>

#include "Custom_Actions/qvrinst/vector_string_list.h"
#include "activators/incompatible_software.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_files.h"
#include "tests/support/test_product.h"
#include "tests/support/unix_links.h"

namespace {

using qvrtest::Exists;
using qvrtest::ListNames;
using qvrtest::TestFolder;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;

constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring Pack(const std::wstring& name) { return qvrtest::BuildPath(L"testdata/cleaner/" + name); }

// A cleaner whose lines are kept, working in a scratch folder of its own
// below a test folder.
struct TestCleaner {
  explicit TestCleaner(const wchar_t* tag = L"cleaner") : folder(tag) {}
  TestFolder folder;
  std::wstring scratch = folder / L"{SCRATCH}";
  std::vector<std::wstring> lines;
  qvr::Cleaner cleaner{[this](const std::wstring& line) { lines.push_back(line); }};
};

TEST(Cleaner, APackThatCannotServeFailsAndLeavesNothing) {
  const std::wstring missing = Pack(L"missing.pack");
  const std::wstring folder = Pack(L"noini");
  const std::wstring notACabinet = Pack(L"notacab.pack");
  const struct {
    std::wstring pack;
    std::uint32_t code;
    std::vector<std::wstring> lines;
  } cases[] = {
      {missing, 3, {L"Sweeper pack file not found: " + missing}},
      {folder, 3, {L"Sweeper pack file not found: " + folder}},
      {notACabinet,
       13,
       {L"Cleaner: failed extract data from " + notACabinet +
        L", Cabinet error - native code: 0, FDI code: 2(Not a cabinet)"}},
      {Pack(L"noini.pack"),
       13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: File not found.",
        L"FiltrateIniFiles error 13"}},
      {Pack(L"badini.pack"),
       13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: Bad section.", L"FiltrateIniFiles error 13"}},
      {Pack(L"keyfirst.pack"),
       13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: Used a key without section.",
        L"FiltrateIniFiles error 13"}},
  };
  for (const auto& c : cases) {
    TestCleaner test;
    EXPECT_EQ(test.cleaner.InitializeProductTypes(c.pack, {L"Antivirus"}, test.scratch), c.code) << c.pack;
    EXPECT_EQ(test.lines, c.lines) << c.pack;
    test.cleaner.Shutdown();
    EXPECT_THAT(ListNames(test.folder.Path()), IsEmpty()) << c.pack;
  }
}

TEST(Cleaner, NeverUsesAScratchFolderThatExistsAlready) {
  TestCleaner test;
  ASSERT_TRUE(CreateDirectoryW(test.scratch.c_str(), nullptr));
  qvrtest::WriteAll(test.scratch + L"\\theirs.txt", "theirs");
  EXPECT_EQ(test.cleaner.InitializeProductTypes(Pack(L"noini.pack"), {}, test.scratch), ERROR_ALREADY_EXISTS);
  EXPECT_THAT(test.lines, ElementsAre(L"Scratch folder " + test.scratch + L" exists already: not used"));
  test.cleaner.Shutdown();
  EXPECT_THAT(ListNames(test.scratch), ElementsAre(L"theirs.txt"));
}

// An application of apps.pack present on the machine: its uninstall key,
// whose uninstaller is the probe, which deletes the key.
class InstalledApp {
 public:
  explicit InstalledApp(const std::wstring& key) : tree_(HKEY_LOCAL_MACHINE, kUninstall + key) {
    qvr::ScopedRegKey uninstall;
    uninstall.Create(HKEY_LOCAL_MACHINE, tree_.Path().c_str(), KEY_ALL_ACCESS);
    uninstall.WriteString(L"QuietUninstallString", L"\"" + qvrtest::BuildPath(L"testdata/plugin_probe.exe") + L"\" " +
                                                       qvrtest::BuildPath(L"testdata/cleaner/probe.txt") + L" unkey=" +
                                                       key);
  }
  bool Present() const { return qvrtest::KeyExists(HKEY_LOCAL_MACHINE, tree_.Path()); }

 private:
  qvrtest::ScopedKeyTree tree_;
};

std::vector<std::wstring> LibraryLines(const std::vector<std::wstring>& lines) {
  std::vector<std::wstring> library;
  for (const std::wstring& line : lines)
    if (line.rfind(L"cleanapi: ", 0) == 0) library.push_back(line.substr(10));
  return library;
}

// The library's lines are held back until an enumeration finds something.
void DetectsAndRemovesThroughTheLibrary() {
  const std::wstring pack = Pack(L"apps.pack");
  {
    TestCleaner clean;  // nothing installed
    ASSERT_EQ(clean.cleaner.InitializeProductTypes(pack, {L"Antivirus"}, clean.scratch), 0u);
    std::vector<qvr::DetectedApp> apps;
    EXPECT_EQ(clean.cleaner.Enumerate(apps), 0u);
    EXPECT_THAT(apps, IsEmpty());
    EXPECT_THAT(LibraryLines(clean.lines), IsEmpty());
    EXPECT_THAT(clean.lines, testing::Contains(StartsWith(L"Address of the procedure is 0x")));
    // A failed enumeration writes the lines held back, then its own.
    SetEnvironmentVariableW(L"CLEANAPI_FAULT", L"enumerate");
    EXPECT_EQ(clean.cleaner.Enumerate(apps), 1u);
    SetEnvironmentVariableW(L"CLEANAPI_FAULT", nullptr);
    const std::vector<std::wstring> library = LibraryLines(clean.lines);
    EXPECT_THAT(std::count(library.begin(), library.end(), L"0 applications of 3 present"), 2);
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(library.back(), L"EnumCompetitorSoftwareFromMemA: failing as CLEANAPI_FAULT asks");
  }
  const InstalledApp safe(L"QvrTest.Safe"), custom(L"QvrTest.Custom");
  TestCleaner test;
  ASSERT_EQ(test.cleaner.InitializeProductTypes(pack, {L"Network", L"Antivirus"}, test.scratch), 0u);
  EXPECT_THAT(ListNames(test.scratch + L"\\Cleaner"), testing::UnorderedElementsAre(L"cleanapi.dll", L"cleanapi.ini"));
  std::vector<qvr::DetectedApp> apps;
  EXPECT_EQ(test.cleaner.Enumerate(apps), 0u);
  EXPECT_THAT(apps, ElementsAre(qvr::DetectedApp{L"qvrtest-safe", L"QvrTest Safe 100%%", L"QvrTest.Safe", 1},
                                qvr::DetectedApp{L"qvrtest-custom", L"QvrTest Custom", L"QvrTest.Custom", 2}));
  // Only db\apps.db was loaded: the file that is not in the pack is passed over.
  EXPECT_THAT(LibraryLines(test.lines),
              ElementsAre(L"database db\\apps.db: 3 applications", L"read 1 database file: 3 applications",
                          L"checking qvrtest-detect", L"checking qvrtest-safe",
                          L"detected qvrtest-safe (QvrTest Safe 100%%)", L"checking qvrtest-custom",
                          L"detected qvrtest-custom (QvrTest Custom)", L"2 applications of 3 present"));

  std::vector<qvr::DetectedApp> removed;
  EXPECT_EQ(test.cleaner.RemoveByName(L"qvrtest-custom", removed), 0u);
  EXPECT_THAT(removed, ElementsAre(apps[1]));
  EXPECT_FALSE(custom.Present());
  EXPECT_TRUE(safe.Present());
  EXPECT_THAT(LibraryLines(test.lines), testing::Contains(L"qvrtest-safe left in place at the caller's request"));

  SetEnvironmentVariableW(L"CLEANAPI_FAULT", L"remove");
  EXPECT_EQ(test.cleaner.Remove({}, {}), 0x80004005u);
  EXPECT_EQ(test.lines.back(), L"RemoveCompetitorSoftware return error");
  SetEnvironmentVariableW(L"CLEANAPI_FAULT", nullptr);
  EXPECT_TRUE(safe.Present());

  TestCleaner unfiltered(L"unfiltered");  // no filter name: no database, nothing detected
  ASSERT_EQ(unfiltered.cleaner.InitializeProductTypes(pack, {}, unfiltered.scratch), 0u);
  apps.clear();
  EXPECT_EQ(unfiltered.cleaner.Enumerate(apps), 0u);
  EXPECT_THAT(apps, IsEmpty());
}

TEST(Cleaner, ALibraryWithoutTheFunctionsIsReported) {
  TestCleaner test;
  ASSERT_EQ(test.cleaner.InitializeProductTypes(Pack(L"noexport.pack"), {L"Antivirus"}, test.scratch), 0u);
  std::vector<qvr::DetectedApp> apps;
  EXPECT_EQ(test.cleaner.Enumerate(apps), static_cast<std::uint32_t>(ERROR_PROC_NOT_FOUND));
  EXPECT_THAT(test.lines, testing::IsSupersetOf({L"Cannot get addr of SetExternalTraceCallbackA, err: 127",
                                                 L"Cleaner::TraceImpl: not found SetExternalTraceCallbackA",
                                                 L"Cannot get addr of EnumCompetitorSoftwareFromMemA, err: 127"}));
  test.lines.clear();
  test.cleaner.Shutdown();
  EXPECT_THAT(test.lines, ElementsAre(L"Cleaner::~TraceImpl: not found SetExternalTraceCallbackA"));
  EXPECT_THAT(ListNames(test.folder.Path()), IsEmpty());
}

// A link that another process plants in the scratch folder takes nothing
// outside it along at the shutdown.
TEST(Cleaner, ShutdownLeavesWhatALinkInTheScratchFolderPointsTo) {
  TestCleaner test;
  TestFolder outside(L"outside");
  qvrtest::WriteAll(outside / L"keep.txt", "keep");
  ASSERT_EQ(test.cleaner.InitializeProductTypes(Pack(L"apps.pack"), {}, test.scratch), 0u);
  ASSERT_TRUE(test.folder.Link(outside.Path(), test.scratch + L"\\Cleaner\\planted"));
  test.cleaner.Shutdown();
  EXPECT_EQ(qvrtest::ReadAll(outside / L"keep.txt"), "keep");
  EXPECT_FALSE(Exists(test.scratch + L"\\Cleaner\\cleanapi.dll"));
}

// The installer object's cleaner state, for a product whose FileShieldFeature
// qualifies for "pc" and whose root folder holds apps.pack as sweeper.pack.
struct CleanerProduct {
  explicit CleanerProduct(const std::wstring& name) : product(name) {
    product.SetString(L"environment", L"ProductRoot", product.Folder() + L"\\");
    product.SetString(L"environment", L"ProductVersion", L"21.3");
    CopyFileW(Pack(L"apps.pack").c_str(), (product.Folder() + L"\\sweeper.pack").c_str(), FALSE);
    features[L"FileShieldFeature"].productTypes = {L"pc"};
  }
  qvr::CleanerSetup Setup() { return {&sink, environmentKey, features, type}; }
  std::vector<std::wstring> Check(std::uint32_t filter, bool* result = nullptr) {
    qvr::StringList* list = nullptr;
    const bool checked = software.CheckForApplicationsToRemove(Setup(), filter, &list);
    if (result) *result = checked;
    if (!list) return {L"<untouched>"};
    const qvr::StringListPtr<> owned(list);
    std::vector<std::wstring> names;
    for (std::uint32_t i = 0; i < list->Count(); ++i) names.push_back(list->Get(i));
    return names;
  }

  qvrtest::TestProduct product;
  std::wstring environmentKey = product.KeyOf(L"environment");
  qvr::FeatureMap features;
  std::wstring type = L"pc";
  qvrtest::RecordingSink sink;
  qvr::IncompatibleSoftware software;
};

TEST(IncompatibleSoftware, WithoutTheProductsValuesNothingIsChecked) {
  const struct {
    const wchar_t* missing;  // a value deleted, or the key
    const wchar_t* emptied;
    std::wstring line;
  } cases[] = {
      {L"", nullptr, L"GetCleanerParams: can't open environment key: 0x00000002"},
      {L"ProductRoot", nullptr, L"GetCleanerParams: can't query ProductRoot value: 0x00000002"},
      {nullptr, L"ProductRoot", L"GetCleanerParams: ProductRoot value is empty"},
      {L"ProductVersion", nullptr, L"GetCleanerParams: can't query ProductVersion value: 0x00000002"},
      {nullptr, L"ProductVersion", L"GetCleanerParams: ProductVersion value is empty"},
  };
  for (const auto& c : cases) {
    CleanerProduct test(L"CleanerParams");
    if (c.missing && !*c.missing) test.environmentKey += L"\\absent";
    if (c.missing && *c.missing) test.product.DeleteValue(L"environment", c.missing);
    if (c.emptied) test.product.SetString(L"environment", c.emptied, L"");
    bool result = true;
    EXPECT_THAT(test.Check(1, &result), ElementsAre(L"<untouched>"));
    EXPECT_FALSE(result);
    EXPECT_THAT(test.sink.Texts(3), ElementsAre(c.line));
  }
}

void ChecksAndRemovesWithOneExtraction() {
  CleanerProduct test(L"CleanerFlow");
  const InstalledApp safe(L"QvrTest.Safe"), custom(L"QvrTest.Custom");
  EXPECT_THAT(test.Check(1), ElementsAre(L"qvrtest-safe"));
  const auto& lines = test.sink.lines;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[2].text,
                               std::wregex(LR"(InitializeCleaner: ExtractCleanerData from '.*[^\\]\\\\sweeper\.pack' )"
                                           LR"(to '.*\\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}' )"
                                           LR"(product version '21\.3')")))
      << lines[2].text;
  // The library's text reaches the sink as it stands, its percent signs too.
  EXPECT_TRUE(test.sink.Has(L"cleanapi: detected qvrtest-safe (QvrTest Safe 100%%)"));
  EXPECT_TRUE(test.sink.Has(L"CheckForApplicationsToRemove: detected alien software  'QvrTest Safe 100%%'"));
  EXPECT_TRUE(test.sink.Has(L"CheckForApplicationsToRemove: Filter set to Safe Uninstall"));

  test.sink.lines.clear();
  EXPECT_THAT(test.Check(3), IsEmpty());
  EXPECT_EQ(test.sink.Texts()[1], L"InitializeCleaner: already initialized");
  EXPECT_FALSE(test.sink.Has(L"Filter set to") || test.sink.Has(L"ExtractCleanerData"));

  qvr::StringList* list = new qvr::VectorStringList();
  EXPECT_TRUE(test.software.RemoveApplications(test.Setup(), &list));
  const qvr::StringListPtr<> removed(list);
  EXPECT_THAT((std::vector<std::wstring>{removed->Get(0), removed->Get(1), removed->Get(2)}),
              ElementsAre(L"qvrtest-safe", L"qvrtest-custom", L""));
  EXPECT_TRUE(test.sink.Has(L"RemoveApplications: removing all applications finished with result 0"));
  EXPECT_FALSE(safe.Present() || custom.Present());
  EXPECT_THAT(test.Check(0), ElementsAre(L"<untouched>"));
}

// The applications' keys are the machine's: one test, one step after the other.
TEST(Cleaner, DetectsAndRemovesApplications) {
  DetectsAndRemovesThroughTheLibrary();
  ChecksAndRemovesWithOneExtraction();
}

TEST(IncompatibleSoftware, AFailedExtractionIsRetriedWithANewScratchFolder) {
  CleanerProduct test(L"CleanerRetry");
  DeleteFileW((test.product.Folder() + L"\\sweeper.pack").c_str());
  bool result = true;
  test.Check(0, &result);
  EXPECT_FALSE(result);
  EXPECT_THAT(test.sink.Texts(3), ElementsAre(L"ExtractCleanerData: InitializeProductTypes error = 3"));
  test.sink.lines.clear();
  test.Check(0, &result);
  EXPECT_TRUE(test.sink.Has(L"InitializeCleaner: GetCleanerParams entry point"));
}

}  // namespace
