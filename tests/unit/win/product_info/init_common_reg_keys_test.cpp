// The product's registry key paths as the installer object computes them:
// the library named by ProductInfoDLL or found by the search, the sink lines,
// the failures, and the built module finding the library beside itself.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "Custom_Actions/qvrinst/product_keys.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "tests/support/msi_session.h"
#include "tests/unit/win/product_info/product_info_fixtures.h"

namespace {

using product_info_test::LibraryFolder;
using product_info_test::Narrow;
using product_info_test::RecordingSink;
using product_info_test::SearchStateScope;
using product_info_test::SinkLine;
using testing::ElementsAre;

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

SinkLine PathLine(const std::wstring& fromEnvironment) {
  return {1, L"Initialize common reg keys, path from env string: " + fromEnvironment};
}

SinkLine KeysLine(const std::wstring& product) {
  return {1, L"Using common reg keys:\nproduct: " + product + L",\nenv: " + product + L"\\environment,\ndata: " +
                 product + L"\\data"};
}

// A library for `key` in a folder of its own.
std::wstring LibraryFor(const LibraryFolder& folder, const char* key, const wchar_t* name = L"product_info.dll") {
  folder.WriteSettings(std::string("ProductRegistryKey=") + key);
  return folder.AddLibrary(L"product_info.dll", name);
}

TEST(InitCommonRegKeys, TheLibraryTheEnvironmentNamesElseTheSearch) {
  SearchStateScope search;
  LibraryFolder named;
  // Any file name will do when the variable names it.
  const std::wstring library = LibraryFor(named, "Software\\X\\Y", L"identity.dll");
  SearchStateScope::SetProductInfoVariable(library);
  RecordingSink sink;
  KeyProvider provider(&sink);
  ASSERT_TRUE(provider.InitCommonRegKeys());
  EXPECT_THAT(sink.lines, ElementsAre(PathLine(library), KeysLine(L"Software\\X\\Y")));
  EXPECT_EQ(provider.Keys()[qvr::kFeaturesKey], L"Software\\X\\Y\\Installer\\features\\");

  // A variable naming no file, or none, leaves it to the search.
  LibraryFolder current;
  LibraryFor(current, "Software\\Found\\InCurrentDirectory");
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
  for (const std::wstring& variable : {current.File(L"missing\\product_info.dll"), std::wstring()}) {
    SearchStateScope::SetProductInfoVariable(variable);
    sink.lines.clear();
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

// A failure leaves no key paths of an earlier call behind, and the next call
// with a library to read succeeds.
TEST(InitCommonRegKeys, FailureIsReportedAndTheObjectStaysUsable) {
  SearchStateScope search;
  RecordingSink sink;
  KeyProvider provider(&sink);
  for (const FailureCase& failure : kFailureCases) {
    SCOPED_TRACE(failure.name);
    LibraryFolder good;
    const std::wstring library = LibraryFor(good, "Software\\Good");
    SearchStateScope::SetProductInfoVariable(library);
    ASSERT_TRUE(provider.InitCommonRegKeys());
    EXPECT_EQ(provider.Keys()[qvr::kInstallerEnvironmentKey], L"Software\\Good\\Installer\\environment");

    LibraryFolder folder;
    const std::wstring variable = failure.prepare(folder);
    SearchStateScope::SetProductInfoVariable(variable);
    sink.lines.clear();
    EXPECT_FALSE(provider.InitCommonRegKeys());
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], PathLine(variable));
    EXPECT_EQ(sink.lines[1].level, 3);
    const std::string failureLine = std::string("Failed to initialize common reg keys, err: ") + failure.what;
    EXPECT_TRUE(qvrtest::FullMatch(sink.lines[1].text, failureLine.c_str())) << Narrow(sink.lines[1].text);
    for (const std::wstring& key : provider.Keys()) EXPECT_EQ(key, L"");
  }
}

// bin/product_info.dll, the built library without settings, beside the
// module, is found before one in the current directory.
TEST(InitCommonRegKeys, BuiltModuleFindsTheLibraryBesideItself) {
  SearchStateScope search;
  LibraryFolder current;
  LibraryFor(current, "Software\\InCurrentDirectory");
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
  const HMODULE module = LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  const auto factory = reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "GetVersionedQVRInstaller")));
  ASSERT_NE(factory, nullptr);
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(factory(3, &installer), 0);
  RecordingSink sink;
  installer->Initialize(&sink, L"", nullptr);
  EXPECT_THAT(sink.lines, testing::IsSupersetOf({PathLine(L""), KeysLine(L"Software\\VorsalineLab\\QVR21.26")}));
  installer->Release();
  FreeLibrary(module);
}

}  // namespace
