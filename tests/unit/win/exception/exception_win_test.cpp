// The debug identity of loaded images, as frames of call stacks name them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "component/oxa/exception/module_info_win.h"

namespace {

using oxa::ResultCode;

ResultCode Code(std::uint32_t value) { return static_cast<ResultCode>(value); }

template <typename T>
T ReadAt(const std::vector<char>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// The debug identity of an image file, read from the file through its section
// table and the record's file offset, and formatted over StringFromGUID2.
std::string IdentityFromFile(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto nt = static_cast<std::size_t>(ReadAt<IMAGE_DOS_HEADER>(bytes, 0).e_lfanew);
  const auto fileHeader = ReadAt<IMAGE_FILE_HEADER>(bytes, nt + 4);
  const std::size_t optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
  const WORD magic = ReadAt<WORD>(bytes, optional);
  const IMAGE_DATA_DIRECTORY debug =
      magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
          ? ReadAt<IMAGE_OPTIONAL_HEADER64>(bytes, optional).DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG]
          : ReadAt<IMAGE_OPTIONAL_HEADER32>(bytes, optional).DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
  const std::size_t sections = optional + fileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < fileHeader.NumberOfSections; ++i) {
    const auto section = ReadAt<IMAGE_SECTION_HEADER>(bytes, sections + i * sizeof(IMAGE_SECTION_HEADER));
    if (debug.VirtualAddress < section.VirtualAddress ||
        debug.VirtualAddress >= section.VirtualAddress + section.SizeOfRawData) {
      continue;
    }
    const auto entry = ReadAt<IMAGE_DEBUG_DIRECTORY>(
        bytes, section.PointerToRawData + (debug.VirtualAddress - section.VirtualAddress));
    if (entry.Type != IMAGE_DEBUG_TYPE_CODEVIEW || ReadAt<DWORD>(bytes, entry.PointerToRawData) != 0x53445352) {
      return {};
    }
    const auto guid = ReadAt<GUID>(bytes, entry.PointerToRawData + 4);
    const auto age = ReadAt<DWORD>(bytes, entry.PointerToRawData + 20);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    std::string identity;
    for (const wchar_t* c = text; *c; ++c) {
      if (*c != L'{' && *c != L'}' && *c != L'-') identity.push_back(static_cast<char>(*c));
    }
    char ageText[12];
    std::snprintf(ageText, sizeof ageText, "%lX", static_cast<unsigned long>(age));
    return identity + ageText;
  }
  return {};
}

std::wstring ModulePathW(HMODULE module) {
  wchar_t path[MAX_PATH * 4];
  return std::wstring(path, GetModuleFileNameW(module, path, MAX_PATH * 4));
}

std::string ModulePathA(HMODULE module) {
  char path[MAX_PATH * 4];
  return std::string(path, GetModuleFileNameA(module, path, MAX_PATH * 4));
}

TEST(ModuleInfo, OwnExecutableMatchesItsFile) {
  const HMODULE self = GetModuleHandleW(nullptr);
  oxa::ExceptionModule info;
  ASSERT_EQ(oxa::ReadModuleInfo(self, info), oxa::rc::Ok);
  EXPECT_EQ(info.path, ModulePathA(self));
  EXPECT_EQ(info.base, reinterpret_cast<std::uintptr_t>(self));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(self) +
                                                               reinterpret_cast<const IMAGE_DOS_HEADER*>(self)->e_lfanew);
  EXPECT_EQ(info.size, nt->OptionalHeader.SizeOfImage);
  const std::string expected = IdentityFromFile(ModulePathW(self));
  ASSERT_FALSE(expected.empty()) << "the test program has no CodeView record";
  EXPECT_EQ(info.identity, expected);

  // Any address inside the image finds the same module.
  oxa::ExceptionModule byAddress;
  ASSERT_EQ(oxa::ReadModuleInfoForAddress(reinterpret_cast<std::uintptr_t>(&IdentityFromFile), byAddress),
            oxa::rc::Ok);
  EXPECT_EQ(byAddress.base, info.base);
  EXPECT_EQ(oxa::ReadModuleInfoForAddress(16, byAddress), oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND));
}

// A PE32+ header set in memory with a debug directory at 0x200 and its record
// at 0x300, for the header checks.
class FakeImage {
 public:
  FakeImage() : bytes_(0x1000) {
    dos().e_magic = IMAGE_DOS_SIGNATURE;
    dos().e_lfanew = 0x80;
    nt().Signature = IMAGE_NT_SIGNATURE;
    nt().FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    nt().OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    nt().OptionalHeader.SizeOfImage = 0x1000;
    nt().OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    directory() = {0x200, sizeof(IMAGE_DEBUG_DIRECTORY)};
    entry().Type = IMAGE_DEBUG_TYPE_CODEVIEW;
    entry().SizeOfData = 25;
    entry().AddressOfRawData = 0x300;
    std::memcpy(bytes_.data() + 0x300, "RSDX", 4);
  }
  HMODULE Handle() { return reinterpret_cast<HMODULE>(bytes_.data()); }
  IMAGE_DOS_HEADER& dos() { return *reinterpret_cast<IMAGE_DOS_HEADER*>(bytes_.data()); }
  IMAGE_NT_HEADERS64& nt() { return *reinterpret_cast<IMAGE_NT_HEADERS64*>(bytes_.data() + 0x80); }
  IMAGE_DATA_DIRECTORY& directory() { return nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG]; }
  IMAGE_DEBUG_DIRECTORY& entry() { return *reinterpret_cast<IMAGE_DEBUG_DIRECTORY*>(bytes_.data() + 0x200); }
  char* record() { return bytes_.data() + 0x300; }

  ResultCode Read() {
    oxa::ExceptionModule info;
    return oxa::ReadModuleInfo(Handle(), info);
  }

 private:
  std::vector<char> bytes_;
};

TEST(ModuleInfo, HeaderAndDebugRecordChecks) {
  const struct {
    const char* what;
    void (*spoil)(FakeImage&);
    ResultCode expected;
  } cases[] = {
      {"record without RSDS", [](FakeImage&) {}, Code(0x8000005A)},
      {"debug directory too small", [](FakeImage& i) { i.directory().Size = sizeof(IMAGE_DEBUG_DIRECTORY) - 1; },
       Code(0x8000005C)},
      {"record too small", [](FakeImage& i) { i.entry().SizeOfData = 23; }, Code(0x8000005C)},
      {"record beyond the image", [](FakeImage& i) { i.entry().AddressOfRawData = 0xFF0; }, Code(0x8000005C)},
      {"no MZ", [](FakeImage& i) { i.dos().e_magic = 0x584D; }, Code(0x8000005A)},
      {"no PE", [](FakeImage& i) { i.nt().Signature = 0x4550; }, Code(0x8000005A)},
      {"unknown optional-header magic", [](FakeImage& i) { i.nt().OptionalHeader.Magic = 0x107; }, Code(0x8000005A)},
      // Sound headers get as far as the path, which a block of memory has not.
      {"sound", [](FakeImage& i) { std::memcpy(i.record(), "RSDS", 4); }, oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND)},
      {"no debug directory",
       [](FakeImage& i) {
         i.nt().OptionalHeader.NumberOfRvaAndSizes = IMAGE_DIRECTORY_ENTRY_DEBUG;
         i.directory().Size = 0;
       },
       oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND)},
  };
  for (const auto& row : cases) {
    FakeImage image;
    row.spoil(image);
    EXPECT_EQ(image.Read(), row.expected) << row.what;
  }
}

}  // namespace
