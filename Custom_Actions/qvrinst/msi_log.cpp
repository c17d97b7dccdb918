#include "Custom_Actions/qvrinst/msi_log.h"

#include <msiquery.h>

#include <cwchar>

namespace qvr {

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

namespace {

int FormatInto(wchar_t* buffer, int chars, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = FormatTruncated(buffer, chars, format, args);
  va_end(args);
  return written;
}

}  // namespace

void SendInfoMessage(MSIHANDLE install, const wchar_t* text) {
  const MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

void WriteActionStart(MSIHANDLE install, const wchar_t* action) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars] = {};
  FormatInto(line, kLogLineChars, L"Action start %02d:%02d:%02d: %s.", now.wHour, now.wMinute, now.wSecond,
             action);
  SendInfoMessage(install, line);
}

void WriteActionEnd(MSIHANDLE install, const wchar_t* action, UINT result) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars] = {};
  FormatInto(line, kLogLineChars, L"Action ended %02d:%02d:%02d: %s. Return value %01d.", now.wHour,
             now.wMinute, now.wSecond, action, result == ERROR_SUCCESS ? 1 : 3);
  SendInfoMessage(install, line);
}

void WriteLogLineV(MSIHANDLE install, const wchar_t* format, va_list args) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineChars] = {};
  // "[\[]" and "[\]]" are the engine's template escapes for literal brackets.
  const int prefix = FormatInto(line, kLogLineChars, L"MSI (X) (XX:XX) [\\[]%02d:%02d:%02d:%03d[\\]]: ",
                                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  FormatTruncated(line + prefix, kLogLineChars - prefix, format, args);
  SendInfoMessage(install, line);
}

void WriteLogLine(MSIHANDLE install, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLineV(install, format, args);
  va_end(args);
}

void MsiLogSink::Write(int /*level*/, const wchar_t* format, ...) {
  wchar_t line[kLogLineChars] = {};
  va_list args;
  va_start(args, format);
  FormatTruncated(line, kLogLineChars, format, args);
  va_end(args);
  SendInfoMessage(install_, line);
}

}  // namespace qvr
