// The product identity record that product_info.dll fills, with the
// product's own values as defaults. The record crosses into the library:
// its layout is fixed for the 32-bit build, and its text fields are oxa wide
// strings on the process heap, so either side may allocate and free them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "component/oxa/string/string.h"

namespace qvr {

// The memory form of a Windows GUID.
struct ProductGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  bool operator==(const ProductGuid&) const = default;
};
static_assert(sizeof(ProductGuid) == 16);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in hex digits of either case,
// optionally enclosed in braces. Anything else throws
// oxa::ResultCodeException with the code 0x80000311 (GUID syntax error) and
// the narrow message "Bad guid syntax".
ProductGuid ParseProductGuid(std::wstring_view text);

struct ProductInfo {
  ProductInfo() = default;

  // The record size as this build lays it out (928 in the 32-bit build).
  std::uint32_t Size = sizeof(ProductInfo);
  oxa::wstring_t CompanyName{L"Vorsaline"};
  oxa::wstring_t CompanyRegistryKey{L"Software\\VorsalineLab"};
  oxa::wstring_t VendorRegistryKey{L"Software\\VorsalineLab"};
  oxa::wstring_t ProductName{L"QVR21.26"};
  // Base of the module's registry key paths.
  oxa::wstring_t ProductRegistryKey{L"Software\\VorsalineLab\\QVR21.26"};
  oxa::wstring_t ProductId{L"QVR21.26"};
  oxa::wstring_t ProductShortName{L"qvr"};
  oxa::wstring_t ProductVersionName{L"QVR21.26"};
  oxa::wstring_t CompanyDisplayName{L"Vorsaline Lab"};
  oxa::wstring_t ProductDataFolder{L"VorsalineLab\\QVR21.26"};
  oxa::wstring_t ComponentSetName{L"TRX21NTR"};
  oxa::wstring_t ComponentFamilyName{L"TRX21"};
  oxa::wstring_t ProductCodeText{L"A1C0E6D2-5B7F-4E93-9C18-3D2F7A6B4E05"};
  oxa::wstring_t ServiceName{L"qvr"};
  oxa::wstring_t ServiceImageName{L"qvr.exe"};
  oxa::wstring_t ApplicationName{L"qvr"};
  oxa::wstring_t ApplicationImageName{L"qvr.exe"};
  oxa::wstring_t PatchInstallerName{L"QVR21.26_PatchInstallator"};
  oxa::wstring_t UiName{L"qvrui"};
  oxa::wstring_t UiImageName{L"qvrui.exe"};
  oxa::wstring_t AgentName{L"qvr"};
  oxa::wstring_t AgentImageName{L"qvr.exe"};
  oxa::wstring_t LauncherName{L"qvr"};
  oxa::wstring_t LauncherImageName{L"qvr.exe"};
  oxa::wstring_t ConsoleImageName{L"qvr.com"};
  oxa::wstring_t ApplicationIdText{L"B7D4F1A3-62E8-4C05-A9D7-18E5C2F90B36"};
  oxa::wstring_t ComponentPrefix{L"TRX"};
  oxa::wstring_t ToastAppId{L"VorsalineLab.Mor.UI.Toasts"};
  // Declared after its text, from which it is parsed.
  ProductGuid ApplicationId = ParseProductGuid(ApplicationIdText);
  std::uint32_t MajorVersion = 21;
  std::uint32_t MinorVersion = 26;
  // Root key of the product key (HKEY_LOCAL_MACHINE).
  std::uint32_t RegistryRoot = 0x80000002u;
};

// The layout shared with product_info.dll in the 32-bit build.
static_assert(sizeof(void*) != 4 || sizeof(ProductInfo) == 928);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, CompanyName) == 4);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, ProductRegistryKey) == 132);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, ApplicationIdText) == 804);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, ToastAppId) == 868);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, ApplicationId) == 900);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, MajorVersion) == 916);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, MinorVersion) == 920);
static_assert(sizeof(void*) != 4 || offsetof(ProductInfo, RegistryRoot) == 924);

// A text field of the record by its name.
struct ProductInfoTextField {
  std::string_view name;
  oxa::wstring_t ProductInfo::*member;
};

// The 28 text fields in record order.
extern const std::array<ProductInfoTextField, 28> kProductInfoTextFields;

// A copy whose text fields are new strings on the process heap, whatever
// buffers and allocators the fields of `info` use.
ProductInfo CopyToProcessHeap(const ProductInfo& info);

}  // namespace qvr
