// product_info.dll: the product's identity library. Its export
// GetProductVersionInfo2 fills a ProductInfo record (Size already set) with
// the product's values, which are the record's defaults unless the optional
// text file product_info.ini beside the library says otherwise, and returns
// 0 or the configured result.
//
// product_info.ini: UTF-8 text (a byte order mark is skipped), one setting
// per line, Name=Value. Empty lines and lines whose first character other
// than a space or tab is '#' or ';' are ignored; spaces and tabs around the
// name and around the value are ignored; the value is everything after the
// first '='. Names are case-sensitive:
//   <text field>   Any text field of ProductInfo by its name, for example
//                  ProductRegistryKey=Software\X\Y or CompanyName=Other.
//                  ApplicationIdText also sets ApplicationId, parsed from it
//                  (a malformed GUID makes the call return 0x80000311).
//   MajorVersion, MinorVersion, RegistryRoot
//                  A number: decimal, or hexadecimal after "0x"
//                  (RegistryRoot=0x80000001 for HKEY_CURRENT_USER).
//   Result         The result code the call returns after filling the
//                  record: decimal (may be negative) or "0x" hexadecimal,
//                  for example Result=-2147467259 or Result=0x80004005.
//   CallLog        A file to which every call appends the line
//                  "GetProductVersionInfo2", so a test can count the calls.
// The environment variable PRODUCT_INFO_LOAD_LOG names a file to which every
// load of the library appends the line "DllMain", so that a test can tell
// whether the library's code ran at all.
//   StringHeap     "process" (default): the text fields are filled with
//                  strings on the process heap; "library": with strings whose
//                  buffers come from a heap of the library's own, which is
//                  destroyed when the library is unloaded.
// An unknown name, a line without '=', a malformed number or an unreadable
// file makes the call return a failure without touching the record: 0x80000046
// (Invalid argument) for the text, the converted Windows error for the file.
//
// Built twice from this source: product_info.dll, and, with
// PRODUCT_INFO_NO_EXPORT, product_info_noexport.dll, which exports nothing.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "component/oxa/result_code.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/system/module_file.h"
#include "component/oxa/system/unique_handle.h"
#include "platform/product_info/product_info_record.h"

namespace {

using qvr::ProductInfo;

constexpr wchar_t kSettingsFileName[] = L"product_info.ini";

// The heap of StringHeap=library; it goes away with the library.
class LibraryHeap final : public oxa::IAllocator {
 public:
  LibraryHeap() : heap_(HeapCreate(0, 0, 0)) {}
  ~LibraryHeap() {
    if (heap_) HeapDestroy(heap_);
  }
  LibraryHeap(const LibraryHeap&) = delete;
  LibraryHeap& operator=(const LibraryHeap&) = delete;

  void* Allocate(std::size_t bytes) override {
    void* block = heap_ ? HeapAlloc(heap_, 0, bytes) : nullptr;
    if (!block) throw std::bad_alloc();
    return block;
  }
  void Free(void* block) noexcept override { HeapFree(heap_, 0, block); }

 private:
  HANDLE heap_;
};

LibraryHeap g_libraryHeap;

struct Settings {
  std::vector<std::pair<oxa::wstring_t ProductInfo::*, std::wstring>> texts;
  std::optional<qvr::ProductGuid> applicationId;  // parsed from ApplicationIdText
  std::optional<std::uint32_t> majorVersion;
  std::optional<std::uint32_t> minorVersion;
  std::optional<std::uint32_t> registryRoot;
  std::int32_t result = oxa::rc::Ok;
  std::wstring callLog;
  bool libraryHeap = false;
};

std::wstring_view Trim(std::wstring_view text) {
  const auto first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return {};
  const auto last = text.find_last_not_of(L" \t");
  return text.substr(first, last - first + 1);
}

// Decimal with an optional '-', or hexadecimal after "0x"; within
// [minimum, maximum].
std::optional<std::int64_t> ParseNumber(std::wstring_view text, std::int64_t minimum, std::int64_t maximum) {
  bool negative = false;
  unsigned base = 10;
  if (text.starts_with(L"0x") || text.starts_with(L"0X")) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.starts_with(L'-')) {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::int64_t value = 0;
  for (const wchar_t c : text) {
    unsigned digit;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<unsigned>(c - L'0');
    } else if (base == 16 && c >= L'a' && c <= L'f') {
      digit = static_cast<unsigned>(c - L'a' + 10);
    } else if (base == 16 && c >= L'A' && c <= L'F') {
      digit = static_cast<unsigned>(c - L'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  if (negative) value = -value;
  if (value < minimum || value > maximum) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseUnsigned(std::wstring_view text) {
  const auto value = ParseNumber(text, 0, UINT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

bool ApplySetting(std::wstring_view name, std::wstring_view value, Settings& settings) {
  for (const qvr::ProductInfoTextField& field : qvr::kProductInfoTextFields) {
    if (name.size() == field.name.size() && std::equal(name.begin(), name.end(), field.name.begin())) {
      settings.texts.emplace_back(field.member, value);
      // A malformed GUID throws here, before the record is touched.
      if (field.member == &ProductInfo::ApplicationIdText) settings.applicationId = qvr::ParseProductGuid(value);
      return true;
    }
  }
  if (name == L"MajorVersion") return (settings.majorVersion = ParseUnsigned(value)).has_value();
  if (name == L"MinorVersion") return (settings.minorVersion = ParseUnsigned(value)).has_value();
  if (name == L"RegistryRoot") return (settings.registryRoot = ParseUnsigned(value)).has_value();
  if (name == L"Result") {
    // Codes are written either as signed numbers or as their hex bits.
    const auto result = ParseNumber(value, INT32_MIN, UINT32_MAX);
    if (result) settings.result = static_cast<std::int32_t>(static_cast<std::uint32_t>(*result));
    return result.has_value();
  }
  if (name == L"CallLog") {
    settings.callLog = value;
    return !value.empty();
  }
  if (name == L"StringHeap") {
    settings.libraryHeap = value == L"library";
    return value == L"library" || value == L"process";
  }
  return false;
}

bool ParseSettings(std::wstring_view text, Settings& settings) {
  while (!text.empty()) {
    const auto end = text.find(L'\n');
    std::wstring_view line = text.substr(0, end);
    text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
    if (line.ends_with(L'\r')) line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == L'#' || line.front() == L';') continue;
    const auto equals = line.find(L'=');
    if (equals == std::wstring_view::npos) return false;
    if (!ApplySetting(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), settings)) return false;
  }
  return true;
}

std::wstring SettingsFilePath() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&g_libraryHeap), &self)) {
    return {};
  }
  const std::wstring name = oxa::ModuleFileName(self);
  if (name.empty()) return {};
  return oxa::JoinPath(oxa::SplitAtLastSeparator(name).directory, kSettingsFileName);
}

// 0, or the failure that the call returns.
oxa::ResultCode ReadSettings(Settings& settings) {
  const std::wstring path = SettingsFilePath();
  if (path.empty()) return oxa::ResultFromWin32Error(GetLastError());
  const oxa::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? oxa::rc::Ok : oxa::ResultFromWin32Error(error);
  }
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  BOOL ok;
  while ((ok = ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) && read > 0) bytes.append(chunk, read);
  if (!ok) return oxa::ResultFromWin32Error(GetLastError());

  std::string_view utf8 = bytes;
  if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
  std::wstring text;
  if (!utf8.empty()) {
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length == 0) return oxa::rc::InvalidArgument;
    text.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
  }
  return ParseSettings(text, settings) ? oxa::rc::Ok : oxa::rc::InvalidArgument;
}

oxa::ResultCode AppendLine(const wchar_t* path, std::string_view line) {
  const oxa::FileHandle file(
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return oxa::ResultFromWin32Error(GetLastError());
  DWORD written = 0;
  const bool ok = WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  return oxa::ResultFromWin32Error(ok ? 0 : GetLastError());
}

oxa::wstring_t MakeText(std::wstring_view value, bool libraryHeap) {
  oxa::wstring_t text(libraryHeap ? static_cast<oxa::IAllocator*>(&g_libraryHeap) : nullptr);
  text.assign(value);
  return text;
}

void FillRecord(ProductInfo& info, const Settings& settings) {
  const ProductInfo product;
  for (const qvr::ProductInfoTextField& field : qvr::kProductInfoTextFields) {
    info.*field.member = MakeText((product.*field.member).view(), settings.libraryHeap);
  }
  for (const auto& [member, value] : settings.texts) info.*member = MakeText(value, settings.libraryHeap);
  info.ApplicationId = settings.applicationId.value_or(product.ApplicationId);
  info.MajorVersion = settings.majorVersion.value_or(product.MajorVersion);
  info.MinorVersion = settings.minorVersion.value_or(product.MinorVersion);
  info.RegistryRoot = settings.registryRoot.value_or(product.RegistryRoot);
}

std::int32_t ReadProductVersionInfo(ProductInfo* info) noexcept {
  try {
    if (!info) return oxa::rc::InvalidArgument;
    if (info->Size != sizeof(ProductInfo)) return oxa::rc::InvalidSize;
    Settings settings;
    if (const oxa::ResultCode read = ReadSettings(settings); OXA_FAILED(read)) return read;
    if (!settings.callLog.empty()) {
      if (const oxa::ResultCode logged = AppendLine(settings.callLog.c_str(), "GetProductVersionInfo2\r\n");
          OXA_FAILED(logged)) {
        return logged;
      }
    }
    FillRecord(*info, settings);
    return settings.result;
  } catch (const std::bad_alloc&) {
    return oxa::rc::OutOfMemory;
  } catch (const oxa::exception& error) {
    return oxa::GetExceptionResultCode(error);
  } catch (...) {
    return oxa::rc::Unexpected;
  }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t loadLog[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PRODUCT_INFO_LOAD_LOG", loadLog, MAX_PATH);
    if (length > 0 && length < MAX_PATH) AppendLine(loadLog, "DllMain\r\n");
  }
  return TRUE;
}

#ifdef PRODUCT_INFO_NO_EXPORT
#define PRODUCT_INFO_EXPORT
#else
#define PRODUCT_INFO_EXPORT __declspec(dllexport)
#endif

extern "C" PRODUCT_INFO_EXPORT std::int32_t __cdecl GetProductVersionInfo2(ProductInfo* info) {
  return ReadProductVersionInfo(info);
}
