#include "cabinet/cabinet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace {

using qvrtest::ListNames;
using qvrtest::ReadAll;
using qvrtest::TestFolder;
using testing::ElementsAre;
using testing::Pair;
using testing::UnorderedElementsAre;

// testdata/cabinet (tests/CMakeLists.txt): pack.cab holds these in this order.
const std::wstring kPack[] = {L"readme.txt", L"cleanapi.dll", L"db\\base1.dat", L"cleanapi.ini", L"db\\base2.dat"};

std::wstring TestData(const std::wstring& name) { return qvrtest::BuildPath(L"testdata/cabinet/" + name); }
std::string SourceOf(const std::wstring& stored) { return ReadAll(TestData(L"files/" + stored)); }

bool CleanerFiles(const std::wstring& name, std::int64_t) { return name == L"cleanapi.dll" || name == L"cleanapi.ini"; }

void Put(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
std::uint32_t Get(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// A gcab cabinet (one folder, one data block, no reserve) as the first of a
// set, laid out as MS-CAB says: cfhdrNEXT_CABINET with the next cabinet's and
// disk's names behind the 36-byte header (every offset behind them moved),
// the last file ifoldCONTINUED_TO_NEXT, and its data block continued (no
// uncompressed size, no checksum).
std::string Spanning(std::string cabinet) {
  const std::string names("next.cab\0disk 2\0", 16);
  std::size_t last_file = Get(cabinet, 0x10, 4);
  for (std::uint32_t file = 1; file < Get(cabinet, 0x1C, 2); ++file)
    last_file += 16 + std::strlen(cabinet.c_str() + last_file + 16) + 1;
  Put(cabinet, last_file + 8, 0xFFFE, 2);
  const std::size_t data = Get(cabinet, 0x24, 4);
  Put(cabinet, data, 0, 4);
  Put(cabinet, data + 6, 0, 2);
  Put(cabinet, 0x1E, Get(cabinet, 0x1E, 2) | 0x0002, 2);
  for (std::size_t offset : {0x08, 0x10, 0x24}) Put(cabinet, offset, Get(cabinet, offset, 4) + names.size(), 4);
  return cabinet.insert(0x24, names);
}

std::string Damaged(std::string cabinet) {
  cabinet[Get(cabinet, 0x24, 4) + 8 + 10] ^= 0x55;  // compressed data: its checksum no longer matches
  return cabinet;
}

enum class Slot { kFromMemory, kToMemory, kToFolder, kList };

qvr::CabResult RunSlot(Slot slot, const std::wstring& cabinet, const std::wstring& folder) {
  const qvr::CabExtractorPtr extractor = qvr::CreateCabExtractor(nullptr);
  qvr::CabResult result;
  std::vector<qvr::CabMemoryFile> files;
  const std::string bytes = slot == Slot::kFromMemory ? ReadAll(cabinet) : "";
  switch (slot) {
    case Slot::kFromMemory:
      extractor->ExtractMemoryToFolder(result, bytes.data(), bytes.size(), folder, {});
      break;
    case Slot::kToMemory:
      extractor->ExtractFileToMemory(result, cabinet, files, {});
      break;
    case Slot::kToFolder:
      extractor->ExtractFileToFolder(result, cabinet, folder, {});
      break;
    case Slot::kList:
      extractor->ListFiles(result, cabinet, {});
      break;
  }
  return result;
}

TEST(CabExtractor, WritesOnlyTheAcceptedFilesAndReplacesOneInTheWay) {
  TestFolder folder(L"cab");
  qvrtest::WriteAll(folder / L"cleanapi.ini", std::string(500, 'x'));
  qvr::CabResult result;
  qvr::CreateCabExtractor(nullptr)->ExtractFileToFolder(result, TestData(L"pack.cab"), folder.Path(), CleanerFiles);
  EXPECT_EQ(qvr::CabErrorText(result), L"No cabinet error found");
  EXPECT_THAT(ListNames(folder.Path()), UnorderedElementsAre(L"cleanapi.dll", L"cleanapi.ini"));
  EXPECT_EQ(ReadAll(folder / L"cleanapi.dll"), SourceOf(L"cleanapi.dll"));
  EXPECT_EQ(ReadAll(folder / L"cleanapi.ini"), SourceOf(L"cleanapi.ini"));
}

TEST(CabExtractor, ExtractsIntoMemoryInCabinetOrder) {
  std::vector<qvr::CabMemoryFile> files{{L"left from before", {1}}};
  std::vector<std::pair<std::wstring, std::int64_t>> offered;
  qvr::CabResult result;
  qvr::CreateCabExtractor(nullptr)->ExtractFileToMemory(result, TestData(L"pack.cab"), files,
                                                        [&offered](const std::wstring& name, std::int64_t size) {
                                                          offered.emplace_back(name, size);
                                                          return name != L"readme.txt";
                                                        });
  EXPECT_FALSE(result.failed) << qvr::CabErrorText(result);
  ASSERT_EQ(offered.size(), std::size(kPack));
  for (std::size_t i = 0; i < offered.size(); ++i)
    EXPECT_THAT(offered[i], Pair(kPack[i], static_cast<std::int64_t>(SourceOf(kPack[i]).size())));
  ASSERT_EQ(files.size(), std::size(kPack) - 1);
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].name, kPack[i + 1]);
    EXPECT_EQ(std::string(files[i].content.begin(), files[i].content.end()), SourceOf(kPack[i + 1]));
  }
}

TEST(CabExtractor, ExtractsACabinetInMemoryWithItsFolders) {
  TestFolder folder(L"cab");
  EXPECT_FALSE(RunSlot(Slot::kFromMemory, TestData(L"pack.cab"), folder / L"new\\dest").failed);
  EXPECT_THAT(ListNames(folder / L"new\\dest"),
              UnorderedElementsAre(L"readme.txt", L"cleanapi.dll", L"cleanapi.ini", L"db"));
  for (const std::wstring& stored : kPack) EXPECT_EQ(ReadAll(folder / (L"new\\dest\\" + stored)), SourceOf(stored));
}

TEST(CabExtractor, ListsUntilTheVisitorStops) {
  const struct {
    std::size_t stopAt;
    int erfOper;
  } listings[] = {{0, 11}, {std::size(kPack), 0}};
  for (const auto& listing : listings) {
    std::vector<std::wstring> visited;
    qvr::CabResult result;
    qvr::CreateCabExtractor(nullptr)->ListFiles(result, TestData(L"pack.cab"), [&](const std::wstring& name, auto) {
      visited.push_back(name);
      return visited.size() <= listing.stopAt;
    });
    EXPECT_EQ(visited, std::vector<std::wstring>(kPack, kPack + std::min(listing.stopAt + 1, std::size(kPack))));
    EXPECT_EQ(result.fdiError.erfOper, listing.erfOper);
    EXPECT_EQ(result.failed, listing.erfOper != 0);
  }
}

TEST(CabExtractor, FailuresAreToldApartInTheErrorText) {
  TestFolder folder(L"cab");
  qvrtest::WriteAll(folder / L"text.cab", SourceOf(L"cleanapi.ini"));
  qvrtest::WriteAll(folder / L"damaged.cab", Damaged(ReadAll(TestData(L"pack.cab"))));
  qvrtest::WriteAll(folder / L"spanning.cab", Spanning(ReadAll(TestData(L"stored.cab"))));
  ASSERT_TRUE(CreateDirectoryW((folder / L"dest-db").c_str(), nullptr));
  qvrtest::WriteAll(folder / L"dest-db\\db", "a file where the folder goes");
  const std::wstring missing = folder / L"missing.cab", text = folder / L"text.cab", damaged = folder / L"damaged.cab";
  const struct {
    std::wstring cabinet;
    Slot slot;
    const wchar_t* destination;
    const wchar_t* text;
  } failures[] = {
      {missing, Slot::kToFolder, L"dest", L"Cabinet error - native code: 2, FDI code: 0(No error)"},
      {missing, Slot::kToMemory, L"dest", L"Cabinet error - native code: 2, FDI code: 0(No error)"},
      {missing, Slot::kList, L"dest", L"Cabinet error - native code: 2, FDI code: 0(No error)"},
      {text, Slot::kToFolder, L"dest", L"Cabinet error - native code: 0, FDI code: 2(Not a cabinet)"},
      {damaged, Slot::kToMemory, L"dest", L"Cabinet error - native code: 0, FDI code: 4(Corrupt cabinet)"},
      {damaged, Slot::kFromMemory, L"dest", L"Cabinet error - native code: 0, FDI code: 4(Corrupt cabinet)"},
      {folder / L"spanning.cab", Slot::kToFolder, L"dest", L"Cabinet error - native code: 0, FDI code: 11(Aborted)"},
      // OpenFile's result code of the folder that cannot be made (0x80010109, bit 29 set).
      {TestData(L"pack.cab"), Slot::kToFolder, L"dest-db",
       L"Cabinet error - native code: -1610546935, FDI code: 11(Aborted)"},
  };
  for (const auto& failure : failures)
    EXPECT_EQ(qvr::CabErrorText(RunSlot(failure.slot, failure.cabinet, folder / failure.destination)), failure.text)
        << testing::PrintToString(failure.cabinet) << " slot " << static_cast<int>(failure.slot);
}

// stored.cab holds cleanapi.ini and "xx\evil.txt", whose name is patched.
TEST(CabExtractor, StoredNamesStayInsideTheDestination) {
  const struct {
    const char* stored;  // as long as "xx\evil.txt"
    const wchar_t* written;
  } names[] = {
      {"..\\evil.txt", nullptr},    {"x\\..\\..\\e.t", nullptr},      {"...\\evil.tx", nullptr},
      {"xx:evil.txt", nullptr},     {"C:\\evil.txt", L"evil.txt"},    {"/xxevil.txt", L"xxevil.txt"},
      {"\\\\?\\C:\\e.tx", L"e.tx"}, {"xx/evil.txt", L"xx\\evil.txt"},
  };
  const std::string stored = ReadAll(TestData(L"stored.cab"));
  const std::size_t name_at = stored.find("xx\\evil.txt");
  ASSERT_NE(name_at, std::string::npos);
  for (const auto& name : names) {
    TestFolder folder(L"cab");
    std::string patched = stored;
    patched.replace(name_at, std::strlen(name.stored), name.stored);
    qvr::CabResult result;
    qvr::CreateCabExtractor(nullptr)->ExtractMemoryToFolder(result, patched.data(), patched.size(), folder / L"a\\dest",
                                                            {});
    EXPECT_EQ(qvr::CabErrorText(result),
              name.written ? L"No cabinet error found" : L"Cabinet error - native code: 123, FDI code: 11(Aborted)")
        << name.stored;
    EXPECT_THAT(ListNames(folder.Path()), ElementsAre(L"a"));
    EXPECT_THAT(ListNames(folder / L"a"), ElementsAre(L"dest"));
    EXPECT_EQ(ReadAll(folder / L"a\\dest\\cleanapi.ini"), SourceOf(L"cleanapi.ini"));
    if (name.written) {
      EXPECT_EQ(ReadAll(folder / (L"a\\dest\\" + std::wstring(name.written))), SourceOf(L"xx\\evil.txt"));
    }
  }
}

// The exception would end the process if it crossed cabinet.dll.
TEST(CabExtractor, AnExceptionOfTheFilterFailsTheExtractionAndIsTraced) {
  qvrtest::MemoryTracer tracer;
  const qvr::CabExtractorPtr extractor = qvr::CreateCabExtractor(&tracer);
  std::vector<qvr::CabMemoryFile> files;
  qvr::CabResult result;
  extractor->ExtractFileToMemory(result, TestData(L"pack.cab"), files, [](const std::wstring& name, std::int64_t) {
    if (name == L"db\\base1.dat") throw std::runtime_error("filter broke");
    return true;
  });
  EXPECT_EQ(qvr::CabErrorText(result), L"Cabinet error - native code: -2147467259, FDI code: 11(Aborted)");
  const std::wstring path = TestData(L"pack.cab");
  EXPECT_THAT(tracer.records,
              ElementsAre(qvrtest::MemoryTracer::Record{
                  300, "Extraction failed from " + std::string(path.begin(), path.end()) + ", err: filter broke"}));
}

}  // namespace
