#include "tools/qvrhost/console.h"

#include <cstdarg>
#include <cwchar>
#include <string>

namespace qvrhost {

void WriteText(Stream stream, std::wstring_view text) {
  HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD written = 0;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int wideLength = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, utf8.data(), length, nullptr, nullptr);
  WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring RecordLines(int level, std::wstring_view text) {
  std::wstring lines = L"[" + std::to_wstring(level) + L"] ";
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.remove_suffix(1);
  for (const wchar_t c : text) {
    if (c == L'\r') continue;
    lines.push_back(c);
    if (c == L'\n') lines += L"    ";
  }
  return lines + L"\n";
}

std::wstring FormatRecord(const wchar_t* format, va_list args) {
  wchar_t message[4096] = {};
  // _vsnwprintf (not vswprintf) for the Windows meaning of %s; it leaves the
  // text unterminated when it has to cut it.
  _vsnwprintf(message, 4095, format, args);
  message[4095] = L'\0';
  return message;
}

void ConsoleLogSink::Write(int level, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring message = FormatRecord(format, args);
  va_end(args);
  WriteText(Stream::Out, RecordLines(level, message));
}

void ErrorCollectingSink::Write(int level, const wchar_t* format, ...) {
  if (level != qvr::kLogError) return;
  va_list args;
  va_start(args, format);
  errors_.push_back(FormatRecord(format, args));
  va_end(args);
}

}  // namespace qvrhost
