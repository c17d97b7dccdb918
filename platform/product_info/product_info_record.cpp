#include "platform/product_info/product_info_record.h"

#include "component/oxa/exception/exception.h"

namespace qvr {
namespace {

constexpr std::string_view kBadGuidSyntax = "Bad guid syntax";

[[noreturn]] void ThrowBadGuidSyntax() {
  throw oxa::ResultCodeException(oxa::rc::GuidSyntaxError, __FILE__, __LINE__, kBadGuidSyntax.data(),
                                 kBadGuidSyntax.size());
}

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `position` and moves past them.
std::uint32_t ReadHex(std::wstring_view text, std::size_t& position, std::size_t digits) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int digit = HexDigitValue(text[position++]);
    if (digit < 0) ThrowBadGuidSyntax();
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

void ExpectDash(std::wstring_view text, std::size_t& position) {
  if (text[position++] != L'-') ThrowBadGuidSyntax();
}

constexpr std::size_t kGuidTextLength = 36;

}  // namespace

ProductGuid ParseProductGuid(std::wstring_view text) {
  if (text.size() == kGuidTextLength + 2 && text.front() == L'{' && text.back() == L'}') {
    text = text.substr(1, kGuidTextLength);
  }
  if (text.size() != kGuidTextLength) ThrowBadGuidSyntax();

  ProductGuid guid;
  std::size_t position = 0;
  guid.Data1 = ReadHex(text, position, 8);
  ExpectDash(text, position);
  guid.Data2 = static_cast<std::uint16_t>(ReadHex(text, position, 4));
  ExpectDash(text, position);
  guid.Data3 = static_cast<std::uint16_t>(ReadHex(text, position, 4));
  ExpectDash(text, position);
  for (std::size_t i = 0; i < 2; ++i) guid.Data4[i] = static_cast<std::uint8_t>(ReadHex(text, position, 2));
  ExpectDash(text, position);
  for (std::size_t i = 2; i < 8; ++i) guid.Data4[i] = static_cast<std::uint8_t>(ReadHex(text, position, 2));
  return guid;
}

#define QVR_TEXT_FIELD(name) ProductInfoTextField{#name, &ProductInfo::name}

const std::array<ProductInfoTextField, 28> kProductInfoTextFields = {
    QVR_TEXT_FIELD(CompanyName),        QVR_TEXT_FIELD(CompanyRegistryKey), QVR_TEXT_FIELD(VendorRegistryKey),
    QVR_TEXT_FIELD(ProductName),        QVR_TEXT_FIELD(ProductRegistryKey), QVR_TEXT_FIELD(ProductId),
    QVR_TEXT_FIELD(ProductShortName),   QVR_TEXT_FIELD(ProductVersionName), QVR_TEXT_FIELD(CompanyDisplayName),
    QVR_TEXT_FIELD(ProductDataFolder),  QVR_TEXT_FIELD(ComponentSetName),   QVR_TEXT_FIELD(ComponentFamilyName),
    QVR_TEXT_FIELD(ProductCodeText),    QVR_TEXT_FIELD(ServiceName),        QVR_TEXT_FIELD(ServiceImageName),
    QVR_TEXT_FIELD(ApplicationName),    QVR_TEXT_FIELD(ApplicationImageName), QVR_TEXT_FIELD(PatchInstallerName),
    QVR_TEXT_FIELD(UiName),             QVR_TEXT_FIELD(UiImageName),        QVR_TEXT_FIELD(AgentName),
    QVR_TEXT_FIELD(AgentImageName),     QVR_TEXT_FIELD(LauncherName),       QVR_TEXT_FIELD(LauncherImageName),
    QVR_TEXT_FIELD(ConsoleImageName),   QVR_TEXT_FIELD(ApplicationIdText),  QVR_TEXT_FIELD(ComponentPrefix),
    QVR_TEXT_FIELD(ToastAppId),
};

#undef QVR_TEXT_FIELD

ProductInfo CopyToProcessHeap(const ProductInfo& info) {
  ProductInfo copy;
  copy.Size = info.Size;
  for (const ProductInfoTextField& field : kProductInfoTextFields) (copy.*field.member).assign((info.*field.member).view());
  copy.ApplicationId = info.ApplicationId;
  copy.MajorVersion = info.MajorVersion;
  copy.MinorVersion = info.MinorVersion;
  copy.RegistryRoot = info.RegistryRoot;
  return copy;
}

}  // namespace qvr
