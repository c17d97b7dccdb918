#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "component/oxa/exception/exception_details.h"
#include "component/oxa/exception/module_info_win.h"
#include "tests/support/msi_session.h"

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

std::string Hex(std::uint64_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
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

TEST(ModuleInfo, QvrinstDllCarriesADebugIdentity) {
  const std::wstring path = qvrtest::BuildPath(L"bin/qvrinst.dll");
  ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "qvrinst.dll is not built";
  // Mapped as an image without running its start-up code.
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr) << GetLastError();
  oxa::ExceptionModule info;
  const ResultCode read = oxa::ReadModuleInfo(module, info);
  FreeLibrary(module);
  ASSERT_EQ(read, oxa::rc::Ok);
  EXPECT_EQ(info.identity, IdentityFromFile(path));
  EXPECT_EQ(info.identity.size(), 33u);  // 32 GUID digits, age 1
  EXPECT_NE(info.path.view().find("qvrinst.dll"), std::string_view::npos);
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
  EXPECT_EQ(FakeImage().Read(), Code(0x8000005A)) << "record without RSDS";
  {
    FakeImage image;
    image.directory().Size = sizeof(IMAGE_DEBUG_DIRECTORY) - 1;
    EXPECT_EQ(image.Read(), Code(0x8000005C)) << "debug directory too small";
  }
  {
    FakeImage image;
    image.entry().SizeOfData = 23;
    EXPECT_EQ(image.Read(), Code(0x8000005C)) << "record too small";
  }
  {
    FakeImage image;
    image.entry().AddressOfRawData = 0xFF0;
    EXPECT_EQ(image.Read(), Code(0x8000005C)) << "record beyond the image";
  }
  {
    FakeImage image;
    image.dos().e_magic = 0x584D;
    EXPECT_EQ(image.Read(), Code(0x8000005A)) << "no MZ";
  }
  {
    FakeImage image;
    image.nt().Signature = 0x4550;
    EXPECT_EQ(image.Read(), Code(0x8000005A)) << "no PE";
  }
  {
    FakeImage image;
    image.nt().OptionalHeader.Magic = 0x107;
    EXPECT_EQ(image.Read(), Code(0x8000005A)) << "unknown optional-header magic";
  }
  {
    // Sound headers get as far as the path, which a block of memory has not.
    FakeImage image;
    std::memcpy(image.record(), "RSDS", 4);
    EXPECT_EQ(image.Read(), oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND));
    image.nt().OptionalHeader.NumberOfRvaAndSizes = IMAGE_DIRECTORY_ENTRY_DEBUG;
    image.directory().Size = 0;
    EXPECT_EQ(image.Read(), oxa::ResultFromWin32Error(ERROR_MOD_NOT_FOUND));
  }
}

__attribute__((noinline)) void FailDeepInside(ResultCode code) { OXA_THROW_IF_FAIL(code); }

TEST(CallStack, FramesInOurModulePrintWithItsIdentity) {
  const HMODULE self = GetModuleHandleW(nullptr);
  const auto base = reinterpret_cast<std::uintptr_t>(self);
  const std::string path = ModulePathA(self);
  const std::string identity = IdentityFromFile(ModulePathW(self));
  try {
    FailDeepInside(Code(0x80010102));
    FAIL() << "no exception";
  } catch (const oxa::ResultCodeException& error) {
    const oxa::ExceptionDetails& details = *error.GetDetails();
    const auto& frames = details.GetCallStack();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_LE(frames.size(), 62u);
    const auto& modules = details.GetModules();
    for (std::size_t i = 1; i < modules.size(); ++i) EXPECT_LT(modules[i - 1].base, modules[i].base);

    // The return address into the throwing function is among the first frames.
    const auto thrower = reinterpret_cast<std::uintptr_t>(&FailDeepInside);
    const auto inThrower = [thrower](std::uint64_t frame) { return frame > thrower && frame < thrower + 0x80; };
    EXPECT_TRUE(std::any_of(frames.begin(), frames.begin() + 3, inThrower));

    std::istringstream lines(error.what());
    std::string line;
    while (std::getline(lines, line) && line != "Call stack:") {
    }
    const std::regex form(R"(([ 0-9]{2})# (?:(.+)!([0-9A-F]*)!([0-9a-f]+)|([0-9a-f]+)))");
    std::size_t index = 0;
    std::size_t ours = 0;
    while (std::getline(lines, line)) {
      std::smatch parts;
      ASSERT_TRUE(std::regex_match(line, parts, form)) << line;
      ASSERT_LT(index, frames.size());
      EXPECT_EQ(std::stoi(parts[1].str()), static_cast<int>(index));
      if (parts[2].matched && parts[2].str() == path) {
        EXPECT_EQ(parts[3].str(), identity);
        EXPECT_EQ(parts[4].str(), Hex(frames[index] - base));
        ++ours;
      }
      ++index;
    }
    EXPECT_EQ(index, frames.size());
    EXPECT_GE(ours, 2u) << error.what();
  }
}

TEST(CallStack, NoStackWithoutNarrowMessage) {
  try {
    oxa::ThrowCheckResultFailed(Code(0x80000046), __FILE__, __LINE__);
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_TRUE(error.GetDetails()->GetCallStack().empty());
    EXPECT_NE(std::string(error.what()).find(". Properties:\noxa.result=0x80000046\nCall stack:\n"),
              std::string::npos);
  }
}

}  // namespace
