#include "activators/proto_handler_registrar.h"

#include "Custom_Actions/qvrinst/log_sink.h"
#include "platform/util/scoped_reg_key.h"

#include <shlwapi.h>

#include <new>
#include <utility>

namespace qvr {
namespace {

// A scheme has at most 24 characters; a longer subkey name does not fit and
// fails the enumeration.
constexpr DWORD kSchemeBufferChars = 25;
constexpr wchar_t kDefaultValue[] = L"";

// Reads a string value of `bytes` bytes, as the size query reported it. The
// stored data must be whole code units ending in a terminating NUL; no data
// at all reads as the empty text.
LONG ReadStoredString(HKEY key, const wchar_t* valueName, DWORD bytes, std::wstring& text) {
  try {
    text.assign((bytes + 1) / sizeof(wchar_t), L'\0');
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  DWORD type = REG_NONE;
  const LONG result = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  if (bytes == 0) {
    text.clear();
    return ERROR_SUCCESS;
  }
  const std::size_t length = bytes / sizeof(wchar_t);
  if (bytes % sizeof(wchar_t) != 0 || text[length - 1] != L'\0') return ERROR_INVALID_DATA;
  text.resize(length - 1);
  return ERROR_SUCCESS;
}

}  // namespace

std::wstring ProtoHandlerRegistrar::GetStringValue(HKEY key, const wchar_t* valueName) {
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  LONG result = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &bytes);
  if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) result = ERROR_INVALID_DATA;
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"GetStringValue: can't query buffer size, err: 0x%08x", result);
    return {};
  }
  std::wstring text;
  result = ReadStoredString(key, valueName, bytes, text);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"GetStringValue: can't query value %ls, err: 0x%08x", valueName, result);
    return {};
  }
  return text;
}

bool ProtoHandlerRegistrar::SetStringValue(HKEY key, const wchar_t* valueName, const std::wstring& text) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  const LONG result = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"SetStringValue: failed to set param %ls with value %ls, err: 0x%x", valueName,
            text.c_str(), result);
    return false;
  }
  return true;
}

bool ProtoHandlerRegistrar::ReadProtoHandlers(const std::wstring& keyPath) {
  ScopedRegKey declarations;
  LONG result = declarations.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"ReadProtoHandlers: can't open protocol handlers key, err: 0x%08x", result);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t scheme[kSchemeBufferChars] = {};
    DWORD length = kSchemeBufferChars;
    result = RegEnumKeyExW(declarations.Get(), index, scheme, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"ReadProtoHandlers: can't enum protocol handlers root key, err: 0x%08x",
              result);
      return false;
    }
    ScopedRegKey handler;
    result = handler.Open(declarations.Get(), scheme, KEY_READ);
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"ReadProtoHandlers: can't open protocol handler key, err: 0x%08x", result);
      return false;
    }
    ProtoHandlerRecord record{std::wstring(scheme, length), {}, {}};
    record.descr = GetStringValue(handler.Get(), L"Descr");
    record.command = GetStringValue(handler.Get(), L"Command");
    if (record.command.empty()) {
      // The value lines above do not say which declaration they were about.
      LogLine(GetLogSink(), kLogError, L"ReadProtoHandlers: protocol handler %ls has no command", record.name.c_str());
      return false;
    }
    protoHandlers_[record.name] = std::move(record);
  }
}

bool ProtoHandlerRegistrar::RegisterProtoHandlers() {
  for (const auto& [scheme, record] : protoHandlers_) {
    ScopedRegKey protocol;
    LONG result = protocol.Create(HKEY_CLASSES_ROOT, scheme.c_str(), KEY_ALL_ACCESS);
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"RegisterProtoHandlers: can't create proto handler root key, err: 0x%08x",
              result);
      return false;
    }
    ScopedRegKey command;
    result = command.Create(protocol.Get(), L"shell\\open\\command", KEY_ALL_ACCESS);
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"RegisterProtoHandlers: can't create proto handler command key, err: 0x%08x",
              result);
      return false;
    }
    if (!SetStringValue(protocol.Get(), kDefaultValue, record.descr) ||
        !SetStringValue(protocol.Get(), L"URL Protocol", L"") ||
        !SetStringValue(command.Get(), kDefaultValue, record.command))
      return false;
  }
  return true;
}

bool ProtoHandlerRegistrar::UnRegisterProtoHandlers() {
  for (const auto& [scheme, record] : protoHandlers_) {
    const LONG result = static_cast<LONG>(SHDeleteKeyW(HKEY_CLASSES_ROOT, scheme.c_str()));
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      LogLine(GetLogSink(), kLogError, L"UnRegisterProtoHandlers: can't delete proto handler root key, err: 0x%08x",
              result);
      return false;
    }
  }
  return true;
}

}  // namespace qvr
