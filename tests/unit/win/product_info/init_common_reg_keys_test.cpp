// The product's registry key paths as the installer object computes them:
// the library named by ProductInfoDLL or found by the search, the sink lines,
// the failures, and the built module finding the library beside itself.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "Custom_Actions/qvrinst/product_keys.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"
#include "tests/support/msi_session.h"
#include "tests/unit/win/product_info/product_info_fixtures.h"

namespace {

using product_info_test::ClearSearchState;
using product_info_test::LibraryFolder;
using product_info_test::RecordingSink;
using product_info_test::SetProductInfoVariable;
using product_info_test::SinkLine;
using testing::ElementsAre;

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

// Without the variable: BuiltModuleFindsTheLibraryBesideItself.
TEST(InitCommonRegKeys, TheLibraryTheEnvironmentNamesElseTheSearch) {
  ClearSearchState();
  LibraryFolder named;
  // Any file name will do when the variable names it.
  const std::wstring library = LibraryFor(named, "Software\\X\\Y", L"identity.dll");
  SetProductInfoVariable(library);
  RecordingSink sink;
  qvr::CommonRegKeys keys;
  ASSERT_TRUE(qvr::InitCommonRegKeys(&sink, keys));
  EXPECT_THAT(sink.lines, ElementsAre(PathLine(library), KeysLine(L"Software\\X\\Y")));
  EXPECT_EQ(keys[qvr::kFeaturesKey], L"Software\\X\\Y\\Installer\\features\\");

  // A variable naming no file leaves it to the search.
  LibraryFolder current;
  LibraryFor(current, "Software\\Found\\InCurrentDirectory");
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
  const std::wstring missing = current.File(L"missing\\product_info.dll");
  SetProductInfoVariable(missing);
  sink.lines.clear();
  ASSERT_TRUE(qvr::InitCommonRegKeys(&sink, keys));
  EXPECT_THAT(sink.lines, ElementsAre(PathLine(missing), KeysLine(L"Software\\Found\\InCurrentDirectory")));
}

// A failure leaves no key paths of an earlier call behind, and the next call
// with a library to read succeeds. The other failures of a load, with
// their positions and codes: LoadProductInfo.FailuresRaiseFrameworkErrors...
TEST(InitCommonRegKeys, FailureIsReportedAndTheObjectStaysUsable) {
  ClearSearchState();
  LibraryFolder folder;
  // A directory named by the variable is taken as the library.
  ASSERT_TRUE(CreateDirectoryW(folder.File(L"library.dll").c_str(), nullptr));
  const std::pair<std::wstring, const char*> failures[] = {
      {folder.AddLibrary(L"product_info_noexport.dll"),
       R"(platform/product_info/product_info\(799\): Expression failed\. Properties:\nos\.result=0x0000007f\nCall stack:\n[\s\S]*)"},
      {folder.File(L"library.dll"),
       R"(Custom_Actions/COMMON/signature\(206\): \. Properties:\noxa\.result=0x80000045\nCall stack:\n)"},
  };
  RecordingSink sink;
  qvr::CommonRegKeys keys;
  for (const auto& [variable, what] : failures) {
    SCOPED_TRACE(oxa::ToUtf8(variable));
    LibraryFolder good;
    SetProductInfoVariable(LibraryFor(good, "Software\\Good"));
    ASSERT_TRUE(qvr::InitCommonRegKeys(&sink, keys));
    EXPECT_EQ(keys[qvr::kInstallerEnvironmentKey], L"Software\\Good\\Installer\\environment");

    SetProductInfoVariable(variable);
    sink.lines.clear();
    EXPECT_FALSE(qvr::InitCommonRegKeys(&sink, keys));
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], PathLine(variable));
    EXPECT_EQ(sink.lines[1].level, 3);
    const std::string failureLine = std::string("Failed to initialize common reg keys, err: ") + what;
    EXPECT_TRUE(qvrtest::FullMatch(sink.lines[1].text, failureLine.c_str())) << oxa::ToUtf8(sink.lines[1].text);
    for (const std::wstring& key : keys) EXPECT_EQ(key, L"");
  }
}

// bin/product_info.dll, the built library without settings, beside the
// module, is found before one in the current directory.
TEST(InitCommonRegKeys, BuiltModuleFindsTheLibraryBesideItself) {
  ClearSearchState();
  LibraryFolder current;
  LibraryFor(current, "Software\\InCurrentDirectory");
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
  const oxa::ModuleHandle module(LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str()));
  ASSERT_TRUE(module) << GetLastError();
  const auto factory = reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(
      reinterpret_cast<void*>(GetProcAddress(module.Get(), "GetVersionedQVRInstaller")));
  ASSERT_NE(factory, nullptr);
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(factory(3, &installer), 0);
  RecordingSink sink;
  installer->Initialize(&sink, L"", nullptr);
  EXPECT_THAT(sink.lines, testing::IsSupersetOf({PathLine(L""), KeysLine(L"Software\\VorsalineLab\\QVR21.26")}));
  installer->Release();
}

}  // namespace
