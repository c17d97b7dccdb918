// The debug identity of loaded images, as frames of call stacks name them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "component/oxa/exception/module_info_win.h"

namespace {

using oxa::ResultCode;

ResultCode Code(std::uint32_t value) { return static_cast<ResultCode>(value); }

// Any address inside the image finds the module; the linker's record is found (its text form is checked below).
TEST(ModuleInfo, TheTestProgramItself) {
  const HMODULE self = GetModuleHandleW(nullptr);
  oxa::ExceptionModule info;
  ASSERT_EQ(oxa::ReadModuleInfoForAddress(reinterpret_cast<std::uintptr_t>(&Code), info), oxa::rc::Ok);
  char path[MAX_PATH * 4];
  EXPECT_EQ(info.path, std::string(path, GetModuleFileNameA(self, path, sizeof path)));
  EXPECT_EQ(info.base, reinterpret_cast<std::uintptr_t>(self));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(self) +
                                                             reinterpret_cast<const IMAGE_DOS_HEADER*>(self)->e_lfanew);
  EXPECT_EQ(info.size, nt->OptionalHeader.SizeOfImage);
  EXPECT_TRUE(std::regex_match(info.identity.str(), std::regex("[0-9A-F]{33,40}"))) << info.identity.view();
}

// A PE32+ header set in memory with a debug directory at 0x200 and its record at 0x300, for the header checks.
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

  // Sound headers get as far as the path, which a block of memory has not; the identity is read before it: the
  // GUID's fields in upper-case hex, then the age without leading zeros.
  FakeImage image;
  const GUID guid = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  const DWORD age = 0x1A;
  std::memcpy(image.record(), "RSDS", 4);
  std::memcpy(image.record() + 4, &guid, sizeof guid);
  std::memcpy(image.record() + 20, &age, sizeof age);
  oxa::ExceptionModule info;
  EXPECT_EQ(oxa::ReadModuleInfo(image.Handle(), info), oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(info.identity.view(), "0123ABCD456789EFFEDCBA98765432101A");
}

}  // namespace
