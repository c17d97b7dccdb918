#include "activators/proto_handler_registrar.h"

#include "activators/declaration_table.h"
#include "log/log_sink.h"

#include <shlwapi.h>

#include <utility>

namespace qvr {
namespace {

// A scheme has at most 24 characters; a longer subkey name does not fit and
// fails the enumeration.
constexpr DWORD kSchemeBufferChars = 25;
constexpr wchar_t kDefaultValue[] = L"";

}  // namespace

std::wstring GetStringValue(LogSink* sink, const ScopedRegKey& key, const wchar_t* valueName) {
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  LONG result = key.QueryValueInfo(valueName, type, bytes);
  if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) result = ERROR_INVALID_DATA;
  if (!CheckSuccess(sink, result, L"GetStringValue: can't query buffer size, err: 0x%08x")) return {};
  std::wstring text;
  result = key.ReadString(valueName, StringPolicy::kTerminatedSzOrExpandSz, text);
  if (!CheckSuccess(sink, result, L"GetStringValue: can't query value %ls, err: 0x%08x", valueName)) return {};
  return text;
}

bool SetStringValue(LogSink* sink, const ScopedRegKey& key, const wchar_t* valueName, const std::wstring& text) {
  return CheckSuccess(sink, key.WriteString(valueName, text),
                      L"SetStringValue: failed to set param %ls with value %ls, err: 0x%x", valueName, text.c_str());
}

bool ProtoHandlerRegistrar::ReadProtoHandlers(LogSink* sink, const std::wstring& keyPath) {
  ScopedRegKey declarations;
  if (!OpenDeclarations(sink, keyPath, L"ReadProtoHandlers: can't open protocol handlers key, err: 0x%08x",
                        declarations))
    return false;
  return ReadDeclarationSubKeys(
      sink, declarations, kSchemeBufferChars, L"ReadProtoHandlers: can't enum protocol handlers root key, err: 0x%08x",
      [&](const std::wstring& scheme) {
        ScopedRegKey handler;
        if (!CheckSuccess(sink, declarations.OpenChild(scheme.c_str(), KEY_READ, handler),
                          L"ReadProtoHandlers: can't open protocol handler key, err: 0x%08x"))
          return Taken::kFailed;
        ProtoHandlerRecord record{scheme, {}, {}};
        record.descr = GetStringValue(sink, handler, L"Descr");
        record.command = GetStringValue(sink, handler, L"Command");
        if (record.command.empty()) {
          // The value lines above do not say which declaration they were about.
          LogLine(sink, kLogError, L"ReadProtoHandlers: protocol handler %ls has no command", record.name.c_str());
          return Taken::kFailed;
        }
        protoHandlers_[record.name] = std::move(record);
        return Taken::kTaken;
      });
}

bool ProtoHandlerRegistrar::RegisterProtoHandlers(LogSink* sink) const {
  for (const auto& [scheme, record] : protoHandlers_) {
    ScopedRegKey protocol;
    if (!CheckSuccess(sink, protocol.Create(HKEY_CLASSES_ROOT, scheme.c_str(), KEY_ALL_ACCESS),
                      L"RegisterProtoHandlers: can't create proto handler root key, err: 0x%08x"))
      return false;
    ScopedRegKey command;
    if (!CheckSuccess(sink, command.Create(protocol.Get(), L"shell\\open\\command", KEY_ALL_ACCESS),
                      L"RegisterProtoHandlers: can't create proto handler command key, err: 0x%08x"))
      return false;
    if (!SetStringValue(sink, protocol, kDefaultValue, record.descr) ||
        !SetStringValue(sink, protocol, L"URL Protocol", L"") ||
        !SetStringValue(sink, command, kDefaultValue, record.command))
      return false;
  }
  return true;
}

bool ProtoHandlerRegistrar::UnRegisterProtoHandlers(LogSink* sink) const {
  for (const auto& [scheme, record] : protoHandlers_) {
    const LONG result = static_cast<LONG>(SHDeleteKeyW(HKEY_CLASSES_ROOT, scheme.c_str()));
    if (!CheckSuccess(sink, result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result,
                      L"UnRegisterProtoHandlers: can't delete proto handler root key, err: 0x%08x"))
      return false;
  }
  return true;
}

}  // namespace qvr
