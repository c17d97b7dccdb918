#include "component/oxa/exception/module_info_win.h"

#include <cstring>

namespace oxa {
namespace {

constexpr DWORD kFirstPathBuffer = MAX_PATH;
constexpr std::uint32_t kCodeViewSignature = 0x53445352;  // "RSDS"

struct CodeViewRecord {
  std::uint32_t signature;
  std::uint8_t guid[16];
  std::uint32_t age;
};
static_assert(sizeof(CodeViewRecord) == 24);

ResultCode ReadModulePath(HMODULE module, string_t& path) {
  for (DWORD size = kFirstPathBuffer;; size *= 2) {
    path.resize(size);
    const DWORD length = ::GetModuleFileNameA(module, path.data(), size);
    if (length == 0) return ResultFromWin32Error(::GetLastError());
    if (length < size) {
      path.resize(length);
      return rc::Ok;
    }
  }
}

// Symbol-store form: GUID fields as upper-case hex, then the age in hex.
void AppendIdentity(string_t& out, const CodeViewRecord& record) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  auto appendField = [&](std::uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xF]);
  };
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::memcpy(&data1, record.guid, 4);
  std::memcpy(&data2, record.guid + 4, 2);
  std::memcpy(&data3, record.guid + 6, 2);
  appendField(data1, 8);
  appendField(data2, 4);
  appendField(data3, 4);
  for (int i = 8; i < 16; ++i) appendField(record.guid[i], 2);
  bool digitSeen = false;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (record.age >> shift) & 0xF;
    if (digit || digitSeen || shift == 0) {
      out.push_back(kDigits[digit]);
      digitSeen = true;
    }
  }
}

bool InImage(DWORD rva, std::size_t bytes, DWORD imageSize) { return bytes <= imageSize && rva <= imageSize - bytes; }

template <typename OptionalHeader>
ResultCode ReadImage(const std::uint8_t* base, const OptionalHeader& header, ExceptionModule& info) {
  info.size = header.SizeOfImage;
  if (header.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_DEBUG) return rc::Ok;
  const IMAGE_DATA_DIRECTORY& directory = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
  if (directory.Size < sizeof(IMAGE_DEBUG_DIRECTORY)) return rc::InvalidSize;
  if (!InImage(directory.VirtualAddress, sizeof(IMAGE_DEBUG_DIRECTORY), header.SizeOfImage)) return rc::InvalidSize;
  IMAGE_DEBUG_DIRECTORY entry;
  std::memcpy(&entry, base + directory.VirtualAddress, sizeof entry);
  if (entry.SizeOfData < sizeof(CodeViewRecord)) return rc::InvalidSize;
  if (entry.AddressOfRawData == 0 || !InImage(entry.AddressOfRawData, sizeof(CodeViewRecord), header.SizeOfImage)) {
    return rc::InvalidSize;
  }
  CodeViewRecord record;
  std::memcpy(&record, base + entry.AddressOfRawData, sizeof record);
  if (record.signature != kCodeViewSignature) return rc::InvalidSignature;
  AppendIdentity(info.identity, record);
  return rc::Ok;
}

}  // namespace

ResultCode ReadModuleInfo(HMODULE module, ExceptionModule& info) {
  info = ExceptionModule();
  const auto* base = reinterpret_cast<const std::uint8_t*>(module);
  if (!base) return rc::InvalidArgument;
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, base, sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return rc::InvalidSignature;
  const std::uint8_t* nt = base + dos.e_lfanew;
  DWORD signature;
  std::memcpy(&signature, nt, sizeof signature);
  if (signature != IMAGE_NT_SIGNATURE) return rc::InvalidSignature;
  const std::uint8_t* optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
  WORD magic;
  std::memcpy(&magic, optional, sizeof magic);
  // The module is PE32; the x86-64 build of the same code reads PE32+.
  ResultCode result;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    IMAGE_OPTIONAL_HEADER32 header;
    std::memcpy(&header, optional, sizeof header);
    result = ReadImage(base, header, info);
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    IMAGE_OPTIONAL_HEADER64 header;
    std::memcpy(&header, optional, sizeof header);
    result = ReadImage(base, header, info);
  } else {
    return rc::InvalidSignature;
  }
  if (OXA_FAILED(result)) return result;
  info.base = reinterpret_cast<std::uintptr_t>(base);
  return ReadModulePath(module, info.path);
}

ResultCode ReadModuleInfoForAddress(std::uint64_t address, ExceptionModule& info) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(address)), &module)) {
    return ResultFromWin32Error(::GetLastError());
  }
  return ReadModuleInfo(module, info);
}

}  // namespace oxa
