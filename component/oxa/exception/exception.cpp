#include "component/oxa/exception/exception.h"

#include <charconv>
#include <utility>

#include "component/oxa/exception/call_stack.h"
#include "component/oxa/exception/exception_details.h"

namespace oxa {
namespace {

// Source paths and code texts are ASCII.
void AppendAscii(wstring_t& out, std::string_view text) {
  for (const char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
}

void AppendHex8(wstring_t& out, std::uint32_t value) {
  wchar_t text[8];
  for (int i = 7; i >= 0; --i) {
    text[i] = L"0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
  out.append(L"0x");
  out.append(text, 8);
}

constexpr std::string_view kThrowIfFailMessage = "OXA_THROW_IF_FAIL";

}  // namespace

exception::exception(const char* file, int line) noexcept : file_(file), line_(line) {}

exception::exception(const char* file, int line, const char* message, std::size_t length)
    : file_(file), line_(line) {
  ExceptionDetails& details = EnsureDetails();
  details.SetMessageText(std::string_view(message, length));
  CaptureCallStack(details);
}

exception::exception(const exception& other) noexcept
    : std::exception(other), file_(other.file_), line_(other.line_), details_(other.details_) {
  if (details_) details_->AddRef();
}

exception& exception::operator=(const exception& other) noexcept {
  if (other.details_) other.details_->AddRef();
  if (details_) details_->Release();
  std::exception::operator=(other);
  file_ = other.file_;
  line_ = other.line_;
  details_ = other.details_;
  return *this;
}

exception::~exception() {
  if (details_) details_->Release();
}

const char* exception::what() const noexcept {
  if (!details_) return "Unknown exception";
  try {
    return details_->GetWhatText(file_, line_);
  } catch (...) {
    // No memory for the text: the message alone still says something.
    return details_->GetMessageText().c_str();
  }
}

void exception::SetProperty(ExceptionProperty property) { EnsureDetails().SetProperty(std::move(property)); }

const ExceptionProperty* exception::FindProperty(std::string_view name) const noexcept {
  return details_ ? details_->FindProperty(name) : nullptr;
}

ExceptionDetails& exception::EnsureDetails() {
  if (!details_) details_ = new ExceptionDetails();
  return *details_;
}

Exception::Exception(const char* file, int line, std::wstring_view message)
    : exception(file, line), message_(message) {}

Exception::Exception(const char* file, int line, const char* narrowMessage, std::size_t length,
                     std::wstring_view message)
    : exception(file, line, narrowMessage, length), message_(message) {}

wstring_t Exception::GetDescription() const { return message_; }

ResultCodeException::ResultCodeException(ResultCode code, const char* file, int line, std::wstring_view message)
    : ExceptionBase(file, line, message) {
  SetProperty(ExceptionProperty::FromResultCode(kResultProperty, code));
}

ResultCodeException::ResultCodeException(ResultCode code, const char* file, int line, const char* narrowMessage,
                                         std::size_t length, std::wstring_view message)
    : ExceptionBase(file, line, narrowMessage, length, message) {
  SetProperty(ExceptionProperty::FromResultCode(kResultProperty, code));
}

ResultCode ResultCodeException::GetResultCode() const noexcept { return GetExceptionResultCode(*this); }

wstring_t ResultCodeException::GetDescription() const {
  wstring_t text(GetMessageText());
  if (!text.empty()) text.append(L": ");
  const ResultCode code = GetResultCode();
  AppendHex8(text, static_cast<std::uint32_t>(code));
  text.append(L" (");
  AppendAscii(text, GetResultCodeText(code));
  text.push_back(L')');
  return text;
}

ResultCode GetExceptionResultCode(const exception& error) noexcept {
  if (const ExceptionProperty* result = error.FindProperty(kResultProperty);
      result && result->GetKind() == PropertyKind::ResultCode) {
    return static_cast<ResultCode>(result->GetNumber());
  }
  if (const ExceptionProperty* windowsError = error.FindProperty(kWindowsErrorProperty);
      windowsError && windowsError->GetKind() == PropertyKind::WindowsError) {
    return ResultFromWin32Error(static_cast<std::uint32_t>(windowsError->GetNumber()));
  }
  return rc::ExceptionHasNoResultCode;
}

wstring_t GetExceptionLogText(const Exception& error) {
  wstring_t text = error.GetDescription();
  text.append(L". At ");
  AppendAscii(text, error.GetFile() ? std::string_view(error.GetFile()) : std::string_view());
  text.push_back(L'(');
  char line[12];
  const auto end = std::to_chars(line, line + sizeof line, error.GetLine()).ptr;
  AppendAscii(text, std::string_view(line, static_cast<std::size_t>(end - line)));
  text.append(L") ");
  return text;
}

void ThrowCheckResultFailed(ResultCode code, const char* file, int line, std::wstring_view message) {
  throw CheckResultFailedException(code, file, line, message);
}

void ThrowCheckFailed(const char* file, int line) { throw CheckFailedException(file, line); }

void ThrowResultWithStack(ResultCode code, const char* file, int line) {
  throw ResultCodeException(code, file, line, kThrowIfFailMessage.data(), kThrowIfFailMessage.size());
}

}  // namespace oxa
