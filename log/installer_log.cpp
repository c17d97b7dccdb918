#include "log/installer_log.h"

#include <msiquery.h>

#include <cwchar>

#include "component/oxa/system/unique_handle.h"

namespace qvr {
namespace {

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The engine's escape "[\x]" of a character it would otherwise interpret: a
// record such as "[priv_adjust]\t..." would come out as the value of a
// property, "{{...}}" would vanish and "[~]" end the line.
std::wstring_view TemplateEscape(wchar_t unit) {
  switch (unit) {
    case L'[': return L"[\\[]";
    case L']': return L"[\\]]";
    case L'{': return L"[\\{]";
    case L'}': return L"[\\}]";
    default: return {};
  }
}

int FormatInto(wchar_t* buffer, int chars, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = FormatTruncated(buffer, chars, format, args);
  va_end(args);
  return written;
}

}  // namespace

int FormatTruncated(wchar_t* buffer, int chars, const wchar_t* format, va_list args) {
  if (chars <= 0) return 0;
  // _vsnwprintf leaves no terminator (and returns -1) when the text is cut.
  const int written = _vsnwprintf(buffer, chars - 1, format, args);
  if (written < 0 || written >= chars - 1) {
    buffer[chars - 1] = L'\0';
    return chars - 1;
  }
  buffer[written] = L'\0';
  return written;
}

void InstallerLog::Send(std::wstring_view text) const {
  wchar_t line[kLogLineChars];
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    const std::wstring_view escape = TemplateEscape(unit);
    const std::wstring_view piece = escape.empty() ? std::wstring_view(&text[i], 1) : escape;
    const std::size_t needed = piece.size() + (IsHighSurrogate(unit) && i + 1 < text.size() ? 1 : 0);
    if (length + needed >= kLogLineChars) break;
    piece.copy(line + length, piece.size());
    length += piece.size();
  }
  if (length > 0 && IsHighSurrogate(line[length - 1])) --length;
  line[length] = L'\0';
  const oxa::InstallerHandle record(MsiCreateRecord(1));
  MsiRecordSetStringW(record.Get(), 0, line);
  MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record.Get());
}

void InstallerLog::ActionStart(const wchar_t* action) const {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars];
  const int length = FormatInto(line, kLogLineChars, L"Action start %02d:%02d:%02d: %ls.", now.wHour, now.wMinute,
                                now.wSecond, action);
  Send(std::wstring_view(line, length));
}

void InstallerLog::ActionEnd(const wchar_t* action, UINT result) const {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars];
  const int length = FormatInto(line, kLogLineChars, L"Action ended %02d:%02d:%02d: %ls. Return value %01d.",
                                now.wHour, now.wMinute, now.wSecond, action, result == ERROR_SUCCESS ? 1 : 3);
  Send(std::wstring_view(line, length));
}

void InstallerLog::LineV(const wchar_t* format, va_list args) const {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars];
  const int prefix = FormatInto(line, kLogLineChars, L"MSI (X) (XX:XX) [%02d:%02d:%02d:%03d]: ", now.wHour,
                                now.wMinute, now.wSecond, now.wMilliseconds);
  const int text = FormatTruncated(line + prefix, kLogLineChars - prefix, format, args);
  Send(std::wstring_view(line, prefix + text));
}

void InstallerLog::Line(const wchar_t* format, ...) const {
  va_list args;
  va_start(args, format);
  LineV(format, args);
  va_end(args);
}

void InstallerLog::PlainV(const wchar_t* format, va_list args) const {
  wchar_t line[kLogLineChars];
  const int length = FormatTruncated(line, kLogLineChars, format, args);
  Send(std::wstring_view(line, length));
}

void InstallerLogSink::Write(int /*level*/, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  log_.PlainV(format, args);
  va_end(args);
}

}  // namespace qvr
