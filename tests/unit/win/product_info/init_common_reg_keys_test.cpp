// The product's registry key paths as the installer object computes them:
// the library named by ProductInfoDLL or found by the search, the sink lines,
// the failures, and the built module finding the library beside itself.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/product_keys.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "tests/support/msi_session.h"
#include "tests/unit/win/product_info/product_info_fixtures.h"

namespace {

using product_info_test::LibraryFolder;
using product_info_test::LogRecord;
using product_info_test::Narrow;
using product_info_test::RecordingSink;
using product_info_test::RecordingTracer;
using product_info_test::SearchStateScope;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;

// The key paths' computation with the sink it reports to.
class KeyProvider {
 public:
  explicit KeyProvider(qvr::LogSink* sink) : sink_(sink) {}
  bool InitCommonRegKeys() { return qvr::InitCommonRegKeys(sink_, keys_); }
  const qvr::CommonRegKeys& Keys() const { return keys_; }

 private:
  qvr::LogSink* sink_;
  qvr::CommonRegKeys keys_;
};

LogRecord PathLine(const std::wstring& fromEnvironment) {
  return {1, L"Initialize common reg keys, path from env string: " + fromEnvironment};
}

LogRecord KeysLine(const std::wstring& product) {
  return {1, L"Using common reg keys:\nproduct: " + product + L",\nenv: " + product + L"\\environment,\ndata: " +
                 product + L"\\data"};
}

TEST(InitCommonRegKeys, KeysFromTheLibraryNamedByTheEnvironment) {
  SearchStateScope search;
  LibraryFolder folder;
  // Any file name will do when the variable names it.
  const std::wstring library = folder.AddLibrary(L"product_info.dll", L"identity.dll");
  folder.WriteSettings("ProductRegistryKey=Software\\X\\Y");
  SearchStateScope::SetProductInfoVariable(library);

  RecordingSink sink;
  KeyProvider provider(&sink);
  ASSERT_TRUE(provider.InitCommonRegKeys());
  EXPECT_THAT(sink.lines, ElementsAre(PathLine(library), KeysLine(L"Software\\X\\Y")));
  EXPECT_THAT(provider.Keys(), ElementsAreArray(qvr::DeriveCommonRegKeys(L"Software\\X\\Y")));
  EXPECT_EQ(provider.Keys()[4], L"Software\\X\\Y\\Installer\\features\\");
  EXPECT_EQ(provider.Keys()[12], L"Software\\X\\Y\\Installer\\environment");
}

TEST(InitCommonRegKeys, TwoInstallerObjectsReadTheLibraryOnce) {
  SearchStateScope search;
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  folder.WriteSettingsWithCallLog("ProductRegistryKey=Software\\Shared");
  SearchStateScope::SetProductInfoVariable(library);
  RecordingTracer tracer;

  RecordingSink firstSink;
  KeyProvider first(&firstSink);
  ASSERT_TRUE(first.InitCommonRegKeys());

  RecordingSink secondSink;
  qvr::Installer second;
  second.Initialize(&secondSink, L"", nullptr);
  EXPECT_THAT(secondSink.lines, Contains(KeysLine(L"Software\\Shared")));

  EXPECT_EQ(folder.CallCount(), 1);
  EXPECT_THAT(tracer.records,
              ElementsAre(RecordingTracer::Record{oxa::kTraceInfo,
                                                  "Need to check and load new product info from '" + Narrow(library) + "'"},
                          RecordingTracer::Record{oxa::kTraceDetail,
                                                  "Product info from '" + Narrow(library) + "' has been already loaded."}));
}

TEST(InitCommonRegKeys, VariableNamingNoFileFallsBackToTheSearch) {
  SearchStateScope search;
  LibraryFolder current;
  const std::wstring found = current.AddLibrary();
  current.WriteSettings("ProductRegistryKey=Software\\Found\\InCurrentDirectory");
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));

  for (const std::wstring& variable : {current.File(L"missing\\product_info.dll"), std::wstring()}) {
    if (variable.empty()) {
      SearchStateScope::ClearProductInfoVariable();
    } else {
      SearchStateScope::SetProductInfoVariable(variable);
    }
    RecordingSink sink;
    KeyProvider provider(&sink);
    ASSERT_TRUE(provider.InitCommonRegKeys()) << Narrow(variable);
    EXPECT_THAT(sink.lines, ElementsAre(PathLine(variable), KeysLine(L"Software\\Found\\InCurrentDirectory")));
  }
}

struct FailureCase {
  const char* name;
  // Prepares the case in `folder`; the value of ProductInfoDLL (empty: unset).
  std::wstring (*prepare)(const LibraryFolder& folder);
  // The exception text after the line's own words.
  const char* what;
};

const FailureCase kFailureCases[] = {
    {"library without the export",
     [](const LibraryFolder& folder) { return folder.AddLibrary(L"product_info_noexport.dll"); },
     R"(platform/product_info/product_info\(799\): Expression failed\. Properties:\nos\.result=0x0000007f\nCall stack:\n[\s\S]*)"},
    {"failing export",
     [](const LibraryFolder& folder) {
       folder.WriteSettings("Result=-2147467259");
       return folder.AddLibrary();
     },
     R"(platform/product_info/product_info\(800\): \. Properties:\noxa\.result=0x80004005\nCall stack:\n)"},
    {"no library anywhere", [](const LibraryFolder&) { return std::wstring(); },
     R"(Custom_Actions/COMMON/signature\(206\): \. Properties:\noxa\.result=0x80010112\nCall stack:\n)"},
    {"variable naming a directory",
     [](const LibraryFolder& folder) {
       CreateDirectoryW(folder.File(L"library.dll").c_str(), nullptr);
       return folder.File(L"library.dll");
     },
     R"(Custom_Actions/COMMON/signature\(206\): \. Properties:\noxa\.result=0x80000045\nCall stack:\n)"},
};

TEST(InitCommonRegKeys, FailureIsReportedAndTheObjectStaysUsable) {
  for (const FailureCase& failure : kFailureCases) {
    SCOPED_TRACE(failure.name);
    SearchStateScope search;
    LibraryFolder folder;
    const std::wstring variable = failure.prepare(folder);
    if (!variable.empty()) SearchStateScope::SetProductInfoVariable(variable);

    RecordingSink sink;
    KeyProvider provider(&sink);
    const std::string failureLine = std::string("Failed to initialize common reg keys, err: ") + failure.what;
    EXPECT_FALSE(provider.InitCommonRegKeys());
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], PathLine(variable));
    EXPECT_EQ(sink.lines[1].level, 3);
    EXPECT_TRUE(qvrtest::FullMatch(sink.lines[1].text, failureLine.c_str())) << Narrow(sink.lines[1].text);
    for (const std::wstring& key : provider.Keys()) EXPECT_EQ(key, L"");

    RecordingSink installerSink;
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&installerSink, L"vmobpc", nullptr));
    ASSERT_EQ(installerSink.lines.size(), 2u);
    EXPECT_EQ(installerSink.lines[0], PathLine(variable));
    EXPECT_EQ(installerSink.lines[1].level, 3);
    EXPECT_TRUE(qvrtest::FullMatch(installerSink.lines[1].text, failureLine.c_str()))
        << Narrow(installerSink.lines[1].text);
    EXPECT_EQ(installer.GetLogSink(), &installerSink);
    EXPECT_TRUE(installer.AlwaysSucceeds());

    // With a library to read, the same objects go on.
    LibraryFolder good;
    const std::wstring library = good.AddLibrary();
    good.WriteSettings("ProductRegistryKey=Software\\Recovered");
    SearchStateScope::SetProductInfoVariable(library);
    sink.lines.clear();
    EXPECT_TRUE(provider.InitCommonRegKeys());
    EXPECT_THAT(sink.lines, ElementsAre(PathLine(library), KeysLine(L"Software\\Recovered")));
    EXPECT_EQ(provider.Keys()[12], L"Software\\Recovered\\Installer\\environment");
    installerSink.lines.clear();
    installer.Initialize(&installerSink, L"vmobpc", nullptr);
    EXPECT_THAT(installerSink.lines, Contains(KeysLine(L"Software\\Recovered")));
  }
}

TEST(InitCommonRegKeys, BuiltModuleFindsTheLibraryBesideItself) {
  SearchStateScope search;
  const std::wstring modulePath = qvrtest::BuildPath(L"bin/qvrinst.dll");
  const HMODULE module = LoadLibraryW(modulePath.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  const auto factory = reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "GetVersionedQVRInstaller")));
  ASSERT_NE(factory, nullptr);
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(factory(3, &installer), 0);

  RecordingSink sink;
  installer->Initialize(&sink, L"", nullptr);
  // bin/product_info.dll, the built library without settings.
  EXPECT_THAT(sink.lines, testing::IsSupersetOf({PathLine(L""), KeysLine(L"Software\\VorsalineLab\\QVR21.26")}));
  installer->Release();
  FreeLibrary(module);
}

}  // namespace
