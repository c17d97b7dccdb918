// The oxa exception hierarchy: source position, a shared details block with
// message, properties and call stack, and the throwing checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "component/oxa/exception/exception_property.h"
#include "component/oxa/result_code.h"
#include "component/oxa/string/string.h"

namespace oxa {

class ExceptionDetails;

class exception : public std::exception {
 public:
  // `file` is a static NUL-terminated path (__FILE__).
  exception(const char* file, int line) noexcept;
  // Keeps `message` (UTF-8) in the details block and captures the call stack.
  exception(const char* file, int line, const char* message, std::size_t length);
  // Copies share the details block.
  exception(const exception& other) noexcept;
  exception& operator=(const exception& other) noexcept;
  ~exception() override;

  // "file(line): message." with properties and call stack; built on the first
  // call. "Unknown exception" without a details block.
  const char* what() const noexcept override;

  const char* GetFile() const noexcept { return file_; }
  std::int32_t GetLine() const noexcept { return line_; }
  // Null until a message, property or call stack needed one.
  const ExceptionDetails* GetDetails() const noexcept { return details_; }

  // Replaces the value of a property of the same name, else appends it.
  void SetProperty(ExceptionProperty property);
  const ExceptionProperty* FindProperty(std::string_view name) const noexcept;

 private:
  ExceptionDetails& EnsureDetails();

  const char* file_;
  std::int32_t line_;
  ExceptionDetails* details_ = nullptr;
};

class Exception : public exception {
 public:
  Exception(const char* file, int line, std::wstring_view message);
  // With a narrow message and a call stack (see oxa::exception).
  Exception(const char* file, int line, const char* narrowMessage, std::size_t length,
            std::wstring_view message = {});

  // The message itself; result-code exceptions add the code and its text.
  virtual wstring_t GetDescription() const;

  const wstring_t& GetMessageText() const noexcept { return message_; }

 private:
  wstring_t message_;
};

// Gives each concrete exception its own catchable type.
template <typename Derived, typename Base>
class ExceptionBase : public Base {
 public:
  using Base::Base;
};

class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
 public:
  // No call stack.
  ResultCodeException(ResultCode code, const char* file, int line, std::wstring_view message = {});
  // With a narrow message and a call stack.
  ResultCodeException(ResultCode code, const char* file, int line, const char* narrowMessage, std::size_t length,
                      std::wstring_view message = {});

  ResultCode GetResultCode() const noexcept;
  // "message: 0x%08x (code text)"; without a message it starts at "0x".
  wstring_t GetDescription() const override;
};

class CheckResultFailedException : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
 public:
  using ExceptionBase::ExceptionBase;
};

class SystemException : public ExceptionBase<SystemException, ResultCodeException> {
 public:
  using ExceptionBase::ExceptionBase;
};

class CheckFailedException : public ExceptionBase<CheckFailedException, Exception> {
 public:
  CheckFailedException(const char* file, int line) : ExceptionBase(file, line, std::wstring_view()) {}
};

// "oxa.result" when it is a result code, else "os.result" (a Windows error)
// converted, else 0x80000151.
ResultCode GetExceptionResultCode(const exception& error) noexcept;

// The exception as an installer-log text: "description. At file(line) ".
wstring_t GetExceptionLogText(const Exception& error);

// A failed result check: CheckResultFailedException, no call stack.
[[noreturn]] void ThrowCheckResultFailed(ResultCode code, const char* file, int line,
                                         std::wstring_view message = {});
// A failed boolean check: CheckFailedException with an empty message.
[[noreturn]] void ThrowCheckFailed(const char* file, int line);
// ResultCodeException with the narrow message "OXA_THROW_IF_FAIL" and the call stack.
[[noreturn]] void ThrowResultWithStack(ResultCode code, const char* file, int line);

}  // namespace oxa
