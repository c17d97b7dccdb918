// The product identity: the record read from copies of the built product_info.dll, the process-wide cache by file
// identity, the failures and the library search; the product's registry key paths as the installer object computes
// them, from the library named by ProductInfoDLL or found by the search, and the built module finding it beside itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "Custom_Actions/qvrinst/product_keys.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "component/oxa/exception/exception.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"
#include "platform/product_info/product_info.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_files.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace {

using oxa::ToUtf8;
using qvr::ProductInfo;
using qvrtest::MemoryTracer;
using qvrtest::RecordingSink;
using qvrtest::SinkLine;
using Record = MemoryTracer::Record;
using testing::ElementsAre;

// A new empty folder for copies of the built product_info.dll variants, removed when the program ends.
class LibraryFolder {
 public:
  LibraryFolder() : path_(qvrtest::FolderRemovedAtExit(L"qvr-product-info")) {}
  const std::wstring& Path() const { return path_; }
  std::wstring File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }
  // Copies $QVR_BUILD_DIR/bin/<built> into the folder as <name>; its path.
  std::wstring AddLibrary(const wchar_t* built = L"product_info.dll", const wchar_t* name = L"product_info.dll") const {
    const std::wstring source = qvrtest::BuildPath(std::wstring(L"bin/") + built);
    EXPECT_TRUE(CopyFileW(source.c_str(), File(name).c_str(), TRUE)) << ToUtf8(source) << ": " << GetLastError();
    return File(name);
  }
  // product_info.ini with these lines; with a call log, "CallLog=" names calls.log of this folder.
  void WriteSettings(std::string_view text, bool callLog = false) const {
    qvrtest::WriteAll(File(L"product_info.ini"),
                      std::string(text) + (callLog ? "\nCallLog=" + ToUtf8(File(L"calls.log")) + "\n" : ""));
  }
  // How many calls the library's call log holds.
  int CallCount() const {
    const std::string log = qvrtest::ReadAll(File(L"calls.log"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

 private:
  std::wstring path_;
};

// ProductInfoDLL; empty: unset.
void SetProductInfoVariable(const std::wstring& value) {
  SetEnvironmentVariableW(L"ProductInfoDLL", value.empty() ? nullptr : value.c_str());
}

// A search that finds nothing: the current directory an empty folder, no DLL directory, no ProductInfoDLL. Nothing
// is put back: each test runs in a process of its own.
void ClearSearchState() {
  EXPECT_TRUE(SetCurrentDirectoryW(LibraryFolder().Path().c_str()));
  SetDllDirectoryW(nullptr);
  SetProductInfoVariable(L"");
}

std::wstring Text(const oxa::wstring_t& text) { return text.str(); }
std::wstring KeyOf(const std::wstring& library) { return Text(qvr::LoadProductInfo(library).ProductRegistryKey); }

Record NeedToLoad(const std::wstring& path) {
  return {oxa::kTraceInfo, "Need to check and load new product info from '" + ToUtf8(path) + "'"};
}
Record AlreadyLoaded(const std::wstring& path) {
  return {oxa::kTraceDetail, "Product info from '" + ToUtf8(path) + "' has been already loaded."};
}

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

// The cache's records, without the signature check's between them (signature_test.cpp).
std::vector<Record> CacheRecords(const MemoryTracer& tracer) {
  std::vector<Record> records;
  std::copy_if(tracer.records.begin(), tracer.records.end(), std::back_inserter(records), [](const Record& record) {
    return record.text.starts_with("Need to check and load ") || record.text.starts_with("Product info from '");
  });
  return records;
}

// The record outlives a library that filled it from its own heap, destroyed when the library is unloaded right after
// the read; each file is read once whatever its name.
TEST(LoadProductInfo, RecordOutlivesTheLibraryAndEachFileIsReadOnce) {
  ClearSearchState();
  LibraryFolder folder;
  const std::wstring library = folder.AddLibrary();
  const std::wstring key = L"Software\\Vendor\\A key longer than inline text";
  folder.WriteSettings("StringHeap=library\nProductRegistryKey=" + oxa::ToUtf8(key), true);
  MemoryTracer tracer(true);
  ProductInfo info = qvr::LoadProductInfo(library);
  ASSERT_FALSE(IsLoaded(library));
  EXPECT_EQ(Text(info.ProductRegistryKey), key);
  EXPECT_EQ(Text(info.PatchInstallerName), L"QVR21.26_PatchInstallator");
  // Growing and freeing the texts goes to the process heap, not the gone one.
  info.ProductRegistryKey.append(L"\\and more text to make it grow");
  info = ProductInfo();

  // A hard link is the same file under another name.
  const std::wstring linked = folder.File(L"linked.dll");
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), library.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(KeyOf(linked), key);
  EXPECT_EQ(folder.CallCount(), 1);
  EXPECT_THAT(CacheRecords(tracer), ElementsAre(NeedToLoad(library), AlreadyLoaded(linked)));
  // A copy is another file.
  LibraryFolder other;
  const std::wstring copy = other.AddLibrary();
  other.WriteSettings("ProductRegistryKey=Software\\Copy");
  EXPECT_EQ(KeyOf(copy), L"Software\\Copy");
  EXPECT_EQ(KeyOf(library), key);
}

// The failure's source position and result code; 0 for any code.
template <typename Exception>
void ExpectFailure(const std::wstring& library, const char* file, int line, oxa::ResultCode code,
                   qvr::ProductInfoLibraryLoader loader = nullptr) {
  try {
    loader ? qvr::LoadProductInfo(library, loader) : qvr::LoadProductInfo(library);
    ADD_FAILURE() << "read " << ToUtf8(library);
  } catch (const Exception& error) {
    EXPECT_STREQ(error.GetFile(), file) << ToUtf8(library);
    EXPECT_EQ(error.GetLine(), line) << ToUtf8(library);
    if (code != 0) {
      EXPECT_EQ(oxa::GetExceptionResultCode(error), code) << ToUtf8(library);
    }
  }
  EXPECT_FALSE(IsLoaded(library));
}

TEST(LoadProductInfo, FailuresRaiseFrameworkErrorsAndAreNotCached) {
  ClearSearchState();
  constexpr char kProductInfo[] = "platform/product_info/product_info";
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
  // A loader that loads nothing and says nothing.
  ExpectFailure<oxa::CheckFailedException>(folder.File(L"anything.dll"), kProductInfo, 209, 0,
                                           [](const wchar_t*, oxa::ModuleHandle&) {});

  // The identity of the path is read only when something is cached.
  qvr::LoadProductInfo(folder.AddLibrary());
  EXPECT_THROW(qvr::LoadProductInfo(folder.File(L"product*info.dll")), std::filesystem::filesystem_error);
  // A missing file is reported by the load, as without a cache.
  ExpectFailure<oxa::CheckResultFailedException>(folder.File(L"none\\product_info.dll"),
                                                 "Custom_Actions/COMMON/signature", 206, 0);

  // The bare name is found by the system's search (here the DLL directory): read each time, cached as the file loaded.
  LibraryFolder searched;
  const std::wstring searchedLibrary = searched.AddLibrary();
  searched.WriteSettings("ProductRegistryKey=Software\\Searched", true);
  MemoryTracer tracer(true);
  ASSERT_TRUE(SetDllDirectoryW(searched.Path().c_str()));
  EXPECT_EQ(KeyOf(L"product_info.dll"), L"Software\\Searched");
  EXPECT_EQ(KeyOf(L"product_info.dll"), L"Software\\Searched");
  EXPECT_EQ(KeyOf(searchedLibrary), L"Software\\Searched");
  EXPECT_EQ(searched.CallCount(), 2);
  EXPECT_THAT(CacheRecords(tracer), ElementsAre(NeedToLoad(L"product_info.dll"), NeedToLoad(L"product_info.dll"),
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
}

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
TEST(InitCommonRegKeys, TheLibraryTheEnvironmentNamesElseTheSearchAndTheFailures) {
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

  // A failure leaves no key paths of the earlier call behind. The other failures of a load, with their positions and
  // codes: LoadProductInfo.FailuresRaiseFrameworkErrorsAndAreNotCached.
  const std::wstring noExport = named.AddLibrary(L"product_info_noexport.dll");
  SetProductInfoVariable(noExport);
  sink.lines.clear();
  EXPECT_FALSE(qvr::InitCommonRegKeys(&sink, keys));
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[0], PathLine(noExport));
  EXPECT_EQ(sink.lines[1].level, 3);
  EXPECT_TRUE(qvrtest::FullMatch(
      sink.lines[1].text, R"(Failed to initialize common reg keys, err: platform/product_info/product_info\(799\): )"
                          R"(Expression failed\. Properties:\nos\.result=0x0000007f\nCall stack:\n[\s\S]*)"))
      << oxa::ToUtf8(sink.lines[1].text);
  for (const std::wstring& key : keys) EXPECT_EQ(key, L"");
}

// bin/product_info.dll, the built library without settings, beside the module, is found before the current directory's.
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
