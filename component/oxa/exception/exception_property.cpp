#include "component/oxa/exception/exception_property.h"

#include <charconv>
#include <stdexcept>

namespace oxa {
namespace {

void AppendHex(string_t& out, std::uint64_t value, int digits) {
  char text[16];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
  out.append("0x");
  out.append(text, static_cast<std::size_t>(digits));
}

void AppendUtf8(string_t& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 (one code unit per wchar_t) as UTF-8; a lone surrogate becomes U+FFFD
// so that a broken value cannot break the text it is part of.
void AppendUtf16AsUtf8(string_t& out, std::wstring_view text) {
  constexpr char32_t kReplacement = 0xFFFD;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<char32_t>(text[i]);
    if (unit > 0xFFFF) {
      AppendUtf8(out, kReplacement);
    } else if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() &&
               static_cast<char32_t>(text[i + 1]) >= 0xDC00 && static_cast<char32_t>(text[i + 1]) < 0xE000) {
      const auto low = static_cast<char32_t>(text[++i]);
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
}

}  // namespace

ExceptionProperty::ExceptionProperty(std::string_view name, PropertyKind kind, std::uint64_t number)
    : kind_(kind), number_(number) {
  if (name.size() > kMaxNameLength) throw std::invalid_argument("exception property name longer than 31 characters");
  name.copy(name_, name.size());
}

ExceptionProperty ExceptionProperty::FromResultCode(std::string_view name, ResultCode code) {
  return ExceptionProperty(name, PropertyKind::ResultCode, static_cast<std::uint32_t>(code));
}

ExceptionProperty ExceptionProperty::FromWindowsError(std::string_view name, std::uint32_t error) {
  return ExceptionProperty(name, PropertyKind::WindowsError, error);
}

ExceptionProperty ExceptionProperty::FromInt64(std::string_view name, std::int64_t value) {
  return ExceptionProperty(name, PropertyKind::Int64, static_cast<std::uint64_t>(value));
}

ExceptionProperty ExceptionProperty::FromUInt64(std::string_view name, std::uint64_t value) {
  return ExceptionProperty(name, PropertyKind::UInt64, value);
}

ExceptionProperty ExceptionProperty::FromString(std::string_view name, std::string_view value) {
  ExceptionProperty property(name, PropertyKind::NarrowString, 0);
  property.narrow_.assign(value);
  return property;
}

ExceptionProperty ExceptionProperty::FromWideString(std::string_view name, std::wstring_view value) {
  ExceptionProperty property(name, PropertyKind::WideString, 0);
  property.wide_.assign(value);
  return property;
}

ExceptionProperty ExceptionProperty::FromOther(std::string_view name, std::uint32_t kind, std::uint64_t value) {
  return ExceptionProperty(name, static_cast<PropertyKind>(kind), value);
}

void ExceptionProperty::AppendValueText(string_t& out) const {
  switch (kind_) {
    case PropertyKind::ResultCode:
    case PropertyKind::WindowsError:
      AppendHex(out, number_, 8);
      return;
    case PropertyKind::Int64:
    case PropertyKind::UInt64:
      AppendHex(out, number_, 16);
      return;
    case PropertyKind::NarrowString:
      out.append(narrow_);
      return;
    case PropertyKind::WideString:
      AppendUtf16AsUtf8(out, wide_);
      return;
  }
  char number[10];
  const auto end = std::to_chars(number, number + sizeof number, static_cast<std::uint32_t>(kind_)).ptr;
  out.append("<typeid=");
  out.append(number, static_cast<std::size_t>(end - number));
  out.append(">");
}

}  // namespace oxa
