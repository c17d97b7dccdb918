// Reading the product identity from copies of the built product_info.dll:
// the record, the process-wide cache by file identity, the failures and the
// library search.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "component/oxa/exception/exception.h"
#include "component/oxa/text/utf.h"
#include "platform/product_info/product_info.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"
#include "tests/unit/win/product_info/product_info_fixtures.h"

namespace {

using oxa::ToUtf8;
using product_info_test::ClearSearchState;
using product_info_test::LibraryFolder;
using product_info_test::MemoryTracer;
using qvr::ProductInfo;
using Record = MemoryTracer::Record;
using testing::ElementsAre;

std::wstring Text(const oxa::wstring_t& text) { return text.str(); }
std::wstring KeyOf(const std::wstring& library) { return Text(qvr::LoadProductInfo(library).ProductRegistryKey); }

Record NeedToLoad(const std::wstring& path) {
  return {oxa::kTraceInfo, "Need to check and load new product info from '" + ToUtf8(path) + "'"};
}
Record AlreadyLoaded(const std::wstring& path) {
  return {oxa::kTraceDetail, "Product info from '" + ToUtf8(path) + "' has been already loaded."};
}

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

// The copy of every text field: ProductInfoRecord.ProcessHeapCopyOwnsItsTexts.
TEST(LoadProductInfo, TheLibrarysRecordWithItsSettingsAndNotLeftLoaded) {
  LibraryFolder plain;
  const std::wstring library = plain.AddLibrary();
  MemoryTracer tracer(true);
  qvr::LoadProductInfo(library);
  EXPECT_FALSE(IsLoaded(library));
  EXPECT_THAT(tracer.records, ElementsAre(NeedToLoad(library)));

  LibraryFolder set;
  set.WriteSettings(
      "\xEF\xBB\xBF# a product of another vendor\r\nProductRegistryKey=Software\\X\\Y\r\n"
      "  CompanyName = Vendor \xC3\x9C\xC3\xA7 Lab  \r\n; versions\nMajorVersion=22\nMinorVersion=0x1F\n"
      "RegistryRoot=0x80000001\nApplicationIdText={00112233-4455-6677-8899-aabbccddeeff}\n\nResult=1\n");
  const ProductInfo changed = qvr::LoadProductInfo(set.AddLibrary());
  EXPECT_EQ(Text(changed.ProductRegistryKey), L"Software\\X\\Y");
  EXPECT_EQ(Text(changed.CompanyName), L"Vendor \u00DC\u00E7 Lab");
  EXPECT_EQ(Text(changed.ProductName), L"QVR21.26");
  const qvr::ProductGuid id{0x00112233u, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  EXPECT_EQ(changed.ApplicationId, id);
  EXPECT_EQ(changed.MajorVersion, 22u);
  EXPECT_EQ(changed.MinorVersion, 31u);
  EXPECT_EQ(changed.RegistryRoot, 0x80000001u);
}

TEST(LoadProductInfo, EachFileIsReadOnceWhateverItsSpelling) {
  ClearSearchState();
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  folder.WriteSettings("ProductRegistryKey=Software\\Once", true);
  MemoryTracer tracer(true);
  EXPECT_EQ(KeyOf(library), L"Software\\Once");

  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
  // A hard link is the same file under another name.
  const std::wstring linked = folder.File(L"linked.dll");
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), library.c_str(), nullptr)) << GetLastError();
  std::vector<Record> expected{NeedToLoad(library)};
  for (const std::wstring& spelling : {std::wstring(L".\\SUB\\..\\Product_Info.dll"), linked}) {
    EXPECT_EQ(KeyOf(spelling), L"Software\\Once") << ToUtf8(spelling);
    expected.push_back(AlreadyLoaded(spelling));
  }
  EXPECT_EQ(folder.CallCount(), 1);
  EXPECT_EQ(tracer.records, expected);

  // A copy is another file.
  LibraryFolder other;
  const std::wstring copy = other.AddLibrary();
  other.WriteSettings("ProductRegistryKey=Software\\Copy", true);
  EXPECT_EQ(KeyOf(copy), L"Software\\Copy");
  EXPECT_EQ(KeyOf(library), L"Software\\Once");
  EXPECT_EQ(other.CallCount(), 1);
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
  EXPECT_EQ(KeyOf(library), L"Software\\Vendor\\A key longer than inline text");
}

// The failure's source position and result code; 0 for any line or code.
template <typename Exception>
void ExpectFailure(const std::wstring& library, const char* file, int line, oxa::ResultCode code,
                   qvr::ProductInfoLibraryLoader loader = nullptr) {
  try {
    loader ? qvr::LoadProductInfo(library, loader) : qvr::LoadProductInfo(library);
    ADD_FAILURE() << "read " << ToUtf8(library);
  } catch (const Exception& error) {
    EXPECT_STREQ(error.GetFile(), file) << ToUtf8(library);
    if (line != 0) {
      EXPECT_EQ(error.GetLine(), line) << ToUtf8(library);
    }
    if (code != 0) {
      EXPECT_EQ(oxa::GetExceptionResultCode(error), code) << ToUtf8(library);
    }
  }
  EXPECT_FALSE(IsLoaded(library));
}

TEST(LoadProductInfo, FailuresRaiseFrameworkErrorsAndAreNotCached) {
  constexpr char kProductInfo[] = "platform/product_info/product_info";
  constexpr char kSignature[] = "Custom_Actions/COMMON/signature";
  LibraryFolder folder;
  ExpectFailure<oxa::Exception>(folder.AddLibrary(L"product_info_noexport.dll", L"noexport.dll"), kProductInfo, 799,
                                oxa::ResultFromWin32Error(ERROR_PROC_NOT_FOUND));
  LibraryFolder failing;
  const std::wstring failingLibrary = failing.AddLibrary();
  failing.WriteSettings("Result=-2147467259", true);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    ExpectFailure<oxa::CheckResultFailedException>(failingLibrary, kProductInfo, 800,
                                                   static_cast<oxa::ResultCode>(0x80004005u));
    EXPECT_EQ(failing.CallCount(), attempt) << "a failed read was cached";
  }
  qvrtest::WriteAll(folder.File(L"text.dll"), "not a library");
  ExpectFailure<oxa::CheckResultFailedException>(folder.File(L"text.dll"), kSignature, 206,
                                                 oxa::ResultFromWin32Error(ERROR_BAD_EXE_FORMAT));
  // A loader that loads nothing and says nothing.
  ExpectFailure<oxa::CheckFailedException>(folder.File(L"anything.dll"), kProductInfo, 209, 0,
                                           [](const wchar_t*, oxa::ModuleHandle&) {});
}

TEST(LoadProductInfo, IdentityOfThePathIsReadOnlyWhenSomethingIsCached) {
  ClearSearchState();
  LibraryFolder folder;
  qvr::LoadProductInfo(folder.AddLibrary());
  try {
    qvr::LoadProductInfo(folder.File(L"product*info.dll"));
    ADD_FAILURE() << "a wildcard path was looked up";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_THAT(error.what(), testing::HasSubstr("equivalent"));
    EXPECT_EQ(error.code().value(), ERROR_INVALID_NAME);
  }
  // A missing file is reported by the load, as without a cache.
  ExpectFailure<oxa::CheckResultFailedException>(folder.File(L"none\\product_info.dll"),
                                                 "Custom_Actions/COMMON/signature", 206, 0);

  // The bare name is found by the system's search, here in the DLL
  // directory: read each time, and cached as the file that was loaded.
  LibraryFolder searched;
  const std::wstring searchedLibrary = searched.AddLibrary();
  searched.WriteSettings("ProductRegistryKey=Software\\Searched", true);
  MemoryTracer tracer(true);
  ASSERT_TRUE(SetDllDirectoryW(searched.Path().c_str()));
  EXPECT_EQ(KeyOf(L"product_info.dll"), L"Software\\Searched");
  EXPECT_EQ(KeyOf(L"product_info.dll"), L"Software\\Searched");
  EXPECT_EQ(KeyOf(searchedLibrary), L"Software\\Searched");
  EXPECT_EQ(searched.CallCount(), 2);
  EXPECT_THAT(tracer.records, ElementsAre(NeedToLoad(L"product_info.dll"), NeedToLoad(L"product_info.dll"),
                                          AlreadyLoaded(searchedLibrary)));
}

TEST(LocateProductInfoLibrary, CurrentDirectoryThenDllDirectoryThenTheBareName) {
  ClearSearchState();
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

  // A DLL directory longer than the first buffer.
  std::wstring deep = withDirectory.Path();
  while (deep.size() <= 2 * MAX_PATH) {
    deep += L"\\a-folder-name-that-makes-the-path-long";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
  }
  ASSERT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/product_info.dll").c_str(),
                        (L"\\\\?\\" + deep + L"\\product_info.dll").c_str(), TRUE));
  LibraryFolder empty;
  ASSERT_TRUE(SetCurrentDirectoryW(empty.Path().c_str()));
  ASSERT_TRUE(SetDllDirectoryW(deep.c_str()));
  EXPECT_EQ(qvr::LocateProductInfoLibrary(), deep + L"\\product_info.dll");
}

}  // namespace
