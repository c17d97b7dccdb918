// A named, typed value attached to an oxa exception ("oxa.result",
// "os.result", or any name of the thrower's choice).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "component/oxa/result_code.h"
#include "component/oxa/string/string.h"

namespace oxa {

// Kinds with a text form; any other number prints as "<typeid=N>".
enum class PropertyKind : std::uint32_t {
  ResultCode = 1,
  WindowsError = 2,
  Int64 = 3,
  UInt64 = 4,
  NarrowString = 5,
  WideString = 6,
};

inline constexpr std::string_view kResultProperty = "oxa.result";
inline constexpr std::string_view kWindowsErrorProperty = "os.result";

class ExceptionProperty {
 public:
  static constexpr std::size_t kMaxNameLength = 31;

  // Each throws std::invalid_argument for a name longer than kMaxNameLength.
  static ExceptionProperty FromResultCode(std::string_view name, ResultCode code);
  static ExceptionProperty FromWindowsError(std::string_view name, std::uint32_t error);
  static ExceptionProperty FromInt64(std::string_view name, std::int64_t value);
  static ExceptionProperty FromUInt64(std::string_view name, std::uint64_t value);
  static ExceptionProperty FromString(std::string_view name, std::string_view value);
  static ExceptionProperty FromWideString(std::string_view name, std::wstring_view value);
  // A value whose kind only its producer knows: a number tagged with `kind`.
  static ExceptionProperty FromOther(std::string_view name, std::uint32_t kind, std::uint64_t value);

  std::string_view GetName() const noexcept { return name_; }
  PropertyKind GetKind() const noexcept { return kind_; }
  // The value of the numeric kinds (result codes and errors as 32-bit values).
  std::uint64_t GetNumber() const noexcept { return number_; }
  const string_t& GetString() const noexcept { return narrow_; }
  const wstring_t& GetWideString() const noexcept { return wide_; }

  // Appends the value's text form (UTF-8).
  void AppendValueText(string_t& out) const;

 private:
  ExceptionProperty(std::string_view name, PropertyKind kind, std::uint64_t number);

  char name_[kMaxNameLength + 1] = {};
  PropertyKind kind_;
  std::uint64_t number_;
  string_t narrow_;
  wstring_t wide_;
};

}  // namespace oxa
