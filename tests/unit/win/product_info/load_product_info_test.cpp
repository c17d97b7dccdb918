// Reading the product identity from copies of the built product_info.dll:
// the record, the process-wide cache by file identity, the failures and the
// library search.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "component/oxa/exception/exception.h"
#include "platform/product_info/product_info.h"
#include "tests/support/msi_session.h"
#include "tests/unit/win/product_info/product_info_fixtures.h"

namespace {

using product_info_test::LibraryFolder;
using product_info_test::Narrow;
using product_info_test::RecordingTracer;
using product_info_test::SearchStateScope;
using qvr::ProductInfo;
using testing::ElementsAre;

std::wstring Text(const oxa::wstring_t& text) { return text.str(); }
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string NeedToLoad(const std::wstring& path) {
  return "Need to check and load new product info from '" + Narrow(path) + "'";
}
std::string AlreadyLoaded(const std::wstring& path) {
  return "Product info from '" + Narrow(path) + "' has been already loaded.";
}

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

TEST(LoadProductInfo, WithoutSettingsTheLibraryGivesTheDefaults) {
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  RecordingTracer tracer;

  const ProductInfo info = qvr::LoadProductInfo(library);
  const ProductInfo defaults;
  for (const qvr::ProductInfoTextField& field : qvr::kProductInfoTextFields) {
    EXPECT_EQ(Text(info.*field.member), Text(defaults.*field.member)) << field.name;
  }
  EXPECT_EQ(info.Size, sizeof(ProductInfo));
  EXPECT_EQ(info.ApplicationId, defaults.ApplicationId);
  EXPECT_EQ(info.MajorVersion, 21u);
  EXPECT_EQ(info.MinorVersion, 26u);
  EXPECT_EQ(info.RegistryRoot, 0x80000002u);
  EXPECT_FALSE(IsLoaded(library)) << "the library stays loaded";
  EXPECT_THAT(tracer.records, ElementsAre(RecordingTracer::Record{oxa::kTraceInfo, NeedToLoad(library)}));
}

TEST(LoadProductInfo, SettingsBesideTheLibraryChangeItsValues) {
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  folder.WriteSettings(
      "\xEF\xBB\xBF# a product of another vendor\r\n"
      "ProductRegistryKey=Software\\X\\Y\r\n"
      "  CompanyName = Vendor \xC3\x9C\xC3\xA7 Lab  \r\n"
      "; versions\n"
      "MajorVersion=22\n"
      "MinorVersion=0x1F\n"
      "RegistryRoot=0x80000001\n"
      "ApplicationIdText={00112233-4455-6677-8899-aabbccddeeff}\n"
      "\n"
      "Result=1\n");

  const ProductInfo info = qvr::LoadProductInfo(library);
  EXPECT_EQ(Text(info.ProductRegistryKey), L"Software\\X\\Y");
  EXPECT_EQ(Text(info.CompanyName), L"Vendor \u00DC\u00E7 Lab");
  EXPECT_EQ(Text(info.ProductName), L"QVR21.26");
  EXPECT_EQ(Text(info.ApplicationIdText), L"{00112233-4455-6677-8899-aabbccddeeff}");
  const qvr::ProductGuid id{0x00112233u, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  EXPECT_EQ(info.ApplicationId, id);
  EXPECT_EQ(info.MajorVersion, 22u);
  EXPECT_EQ(info.MinorVersion, 31u);
  EXPECT_EQ(info.RegistryRoot, 0x80000001u);
}

TEST(LoadProductInfo, SameFileUnderOtherSpellingsIsReadOnce) {
  SearchStateScope search;
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  folder.WriteSettingsWithCallLog("ProductRegistryKey=Software\\Once");
  RecordingTracer tracer;

  EXPECT_EQ(Text(qvr::LoadProductInfo(library).ProductRegistryKey), L"Software\\Once");

  std::wstring upper = library;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  std::wstring forward = library;
  for (wchar_t& c : forward) c = c == L'\\' ? L'/' : c;
  wchar_t shortName[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(library.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(shortName), library);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
  const std::wstring relative = L".\\sub\\..\\product_info.dll";

  std::vector<RecordingTracer::Record> expected{{oxa::kTraceInfo, NeedToLoad(library)}};
  for (const std::wstring& spelling : {upper, forward, std::wstring(shortName), relative}) {
    const ProductInfo info = qvr::LoadProductInfo(spelling);
    EXPECT_EQ(Text(info.ProductRegistryKey), L"Software\\Once") << Narrow(spelling);
    expected.push_back({oxa::kTraceDetail, AlreadyLoaded(spelling)});
  }
  EXPECT_EQ(folder.CallCount(), 1);
  EXPECT_EQ(tracer.records, expected);
}

TEST(LoadProductInfo, CopiesOfALibraryAreReadEachFromItsOwnFile) {
  LibraryFolder first;
  LibraryFolder second;
  const std::wstring firstLibrary = first.AddLibrary();
  const std::wstring secondLibrary = second.AddLibrary();
  first.WriteSettingsWithCallLog("ProductRegistryKey=Software\\First");
  second.WriteSettingsWithCallLog("ProductRegistryKey=Software\\Second");
  // A hard link is the same file under another name.
  const std::wstring linked = first.File(L"linked.dll");
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), firstLibrary.c_str(), nullptr)) << GetLastError();

  EXPECT_EQ(Text(qvr::LoadProductInfo(firstLibrary).ProductRegistryKey), L"Software\\First");
  EXPECT_EQ(Text(qvr::LoadProductInfo(secondLibrary).ProductRegistryKey), L"Software\\Second");
  EXPECT_EQ(Text(qvr::LoadProductInfo(linked).ProductRegistryKey), L"Software\\First");
  EXPECT_EQ(Text(qvr::LoadProductInfo(secondLibrary).ProductRegistryKey), L"Software\\Second");
  EXPECT_EQ(first.CallCount(), 1);
  EXPECT_EQ(second.CallCount(), 1);
}

TEST(LoadProductInfo, RecordOutlivesALibraryThatFilledItFromItsOwnHeap) {
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  // The library's heap is destroyed when it is unloaded, right after the read.
  folder.WriteSettings("StringHeap=library\nProductRegistryKey=Software\\Vendor\\A key longer than inline text");

  ProductInfo info = qvr::LoadProductInfo(library);
  ASSERT_FALSE(IsLoaded(library));
  EXPECT_EQ(Text(info.ProductRegistryKey), L"Software\\Vendor\\A key longer than inline text");
  EXPECT_EQ(Text(info.PatchInstallerName), L"QVR21.26_PatchInstallator");
  // Growing and freeing the texts goes to the process heap, not the gone one.
  info.ProductRegistryKey.append(L"\\and more text to make it grow");
  info = ProductInfo();

  const ProductInfo cached = qvr::LoadProductInfo(library);
  EXPECT_EQ(Text(cached.ProductRegistryKey), L"Software\\Vendor\\A key longer than inline text");
}

TEST(LoadProductInfo, FailuresRaiseFrameworkErrorsAndAreNotCached) {
  LibraryFolder folder;
  const std::wstring noExport = folder.AddLibrary(L"product_info_noexport.dll", L"noexport.dll");
  try {
    qvr::LoadProductInfo(noExport);
    ADD_FAILURE() << "a library without the export was read";
  } catch (const oxa::Exception& error) {
    EXPECT_STREQ(error.GetFile(), "platform/product_info/product_info");
    EXPECT_EQ(error.GetLine(), 799);
    EXPECT_EQ(oxa::GetExceptionResultCode(error), oxa::ResultFromWin32Error(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(qvrtest::FullMatch(
        Wide(error.what()),
        R"(platform/product_info/product_info\(799\): Expression failed\. Properties:\nos\.result=0x0000007f\nCall stack:\n[\s\S]*)"))
        << error.what();
  }
  EXPECT_FALSE(IsLoaded(noExport));

  LibraryFolder failing;
  const std::wstring failingLibrary = failing.AddLibrary();
  failing.WriteSettingsWithCallLog("Result=-2147467259");
  for (int attempt = 1; attempt <= 2; ++attempt) {
    try {
      qvr::LoadProductInfo(failingLibrary);
      ADD_FAILURE() << "a failing export was taken";
    } catch (const oxa::CheckResultFailedException& error) {
      EXPECT_STREQ(error.GetFile(), "platform/product_info/product_info");
      EXPECT_EQ(error.GetLine(), 800);
      EXPECT_EQ(error.GetResultCode(), static_cast<oxa::ResultCode>(0x80004005u));
    }
    EXPECT_EQ(failing.CallCount(), attempt) << "a failed read was cached";
  }
  EXPECT_FALSE(IsLoaded(failingLibrary));

  // Settings the library cannot read make it fail too.
  LibraryFolder misconfigured;
  const std::wstring misconfiguredLibrary = misconfigured.AddLibrary();
  misconfigured.WriteSettings("ProductRegistryKeys=Software\\Typo");
  try {
    qvr::LoadProductInfo(misconfiguredLibrary);
    ADD_FAILURE() << "an unknown setting was accepted";
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_EQ(error.GetResultCode(), oxa::rc::InvalidArgument);
  }

  struct LoadFailure {
    std::wstring path;
    DWORD error;
  };
  std::ofstream(std::filesystem::path(folder.File(L"text.dll"))) << "not a library";
  for (const LoadFailure& failure : {LoadFailure{folder.File(L"missing.dll"), ERROR_MOD_NOT_FOUND},
                                     LoadFailure{folder.File(L"text.dll"), ERROR_BAD_EXE_FORMAT}}) {
    try {
      qvr::LoadProductInfo(failure.path);
      ADD_FAILURE() << "loaded " << Narrow(failure.path);
    } catch (const oxa::CheckResultFailedException& error) {
      EXPECT_STREQ(error.GetFile(), "Custom_Actions/COMMON/signature") << Narrow(failure.path);
      EXPECT_EQ(error.GetLine(), 206);
      EXPECT_EQ(error.GetResultCode(), oxa::ResultFromWin32Error(failure.error)) << Narrow(failure.path);
    }
  }

  // A loader that loads nothing and says nothing.
  try {
    qvr::LoadProductInfo(folder.File(L"anything.dll"), [](const wchar_t*, oxa::ModuleHandle&) {});
    ADD_FAILURE() << "read without a library";
  } catch (const oxa::CheckFailedException& error) {
    EXPECT_STREQ(error.GetFile(), "platform/product_info/product_info");
    EXPECT_EQ(error.GetLine(), 209);
  }
}

TEST(LoadProductInfo, IdentityOfThePathIsReadOnlyWhenSomethingIsCached) {
  SearchStateScope search;
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  folder.WriteSettingsWithCallLog("ProductRegistryKey=Software\\Identity");
  qvr::LoadProductInfo(library);

  // A name that cannot name a file.
  try {
    qvr::LoadProductInfo(folder.File(L"product*info.dll"));
    ADD_FAILURE() << "a wildcard path was looked up";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_THAT(error.what(), testing::HasSubstr("equivalent"));
    EXPECT_EQ(error.code().value(), ERROR_INVALID_NAME);
  }

  // A missing file is reported by the load, as without a cache.
  try {
    qvr::LoadProductInfo(folder.File(L"none\\product_info.dll"));
    ADD_FAILURE() << "a missing library was read";
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_EQ(error.GetLine(), 206);
  }

  // The bare name is found by the system's search, here in the DLL
  // directory: read each time, and cached as the file that was loaded.
  LibraryFolder searched;
  const std::wstring searchedLibrary = searched.AddLibrary();
  searched.WriteSettingsWithCallLog("ProductRegistryKey=Software\\Searched");
  RecordingTracer tracer;
  ASSERT_TRUE(SetDllDirectoryW(searched.Path().c_str()));
  EXPECT_EQ(Text(qvr::LoadProductInfo(L"product_info.dll").ProductRegistryKey), L"Software\\Searched");
  EXPECT_EQ(Text(qvr::LoadProductInfo(L"product_info.dll").ProductRegistryKey), L"Software\\Searched");
  EXPECT_EQ(Text(qvr::LoadProductInfo(searchedLibrary).ProductRegistryKey), L"Software\\Searched");
  EXPECT_EQ(searched.CallCount(), 2);
  EXPECT_EQ(folder.CallCount(), 1);
  EXPECT_THAT(tracer.records, ElementsAre(RecordingTracer::Record{oxa::kTraceInfo, NeedToLoad(L"product_info.dll")},
                                          RecordingTracer::Record{oxa::kTraceInfo, NeedToLoad(L"product_info.dll")},
                                          RecordingTracer::Record{oxa::kTraceDetail, AlreadyLoaded(searchedLibrary)}));
}

TEST(LocateProductInfoLibrary, CurrentDirectoryThenDllDirectoryThenTheBareName) {
  SearchStateScope search;
  // The test program's own folder holds no product_info.dll.
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), L"product_info.dll");

  LibraryFolder current;
  LibraryFolder dllDirectory;
  const std::wstring inCurrent = current.AddLibrary();
  const std::wstring inDllDirectory = dllDirectory.AddLibrary();
  ASSERT_TRUE(SetDllDirectoryW(dllDirectory.Path().c_str()));
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), inDllDirectory);
  ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), inCurrent);

  // Any file system object of that name counts, also a directory.
  LibraryFolder withDirectory;
  ASSERT_TRUE(CreateDirectoryW(withDirectory.File(L"product_info.dll").c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryW(withDirectory.Path().c_str()));
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), withDirectory.File(L"product_info.dll"));
}

TEST(LocateProductInfoLibrary, DllDirectoryLongerThanTheFirstBuffer) {
  SearchStateScope search;
  LibraryFolder folder;
  std::wstring deep = folder.Path();
  while (deep.size() <= 2 * MAX_PATH) {
    deep += L"\\a-folder-name-that-makes-the-path-long";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
  }
  const std::wstring library = deep + L"\\product_info.dll";
  ASSERT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/product_info.dll").c_str(), (L"\\\\?\\" + library).c_str(), TRUE));
  ASSERT_TRUE(SetDllDirectoryW(deep.c_str()));
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), library);
}

}  // namespace
