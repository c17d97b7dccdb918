// The registrar of the product's URL protocol handlers and its table. Every
// declared protocol is registered under HKEY_CLASSES_ROOT, whatever the
// features or the product type.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace qvr {

class LogSink;
class ScopedRegKey;

struct ProtoHandlerRecord {
  std::wstring name;  // the scheme
  std::wstring command;
  std::wstring descr;
};

class ProtoHandlerRegistrar {
 public:
  // Fills the table from the subkeys of `keyPath` under HKEY_LOCAL_MACHINE,
  // one per scheme of at most 24 characters, each with a required Command
  // and an optional Descr. False at the first declaration that cannot be
  // read; the ones read before stay in the table.
  bool ReadProtoHandlers(LogSink* sink, const std::wstring& keyPath);
  // HKCR\<scheme> with its description and "URL Protocol", and
  // HKCR\<scheme>\shell\open\command with the command line, for every record.
  bool RegisterProtoHandlers(LogSink* sink) const;
  // Deletes the key tree of every declared scheme; a missing one is fine.
  bool UnRegisterProtoHandlers(LogSink* sink) const;

  const std::map<std::wstring, ProtoHandlerRecord>& ProtoHandlers() const { return protoHandlers_; }

 private:
  // Scheme to its declaration.
  std::map<std::wstring, ProtoHandlerRecord> protoHandlers_;
};

// A REG_SZ or REG_EXPAND_SZ value as stored (not expanded); the empty
// string, with a logged reason, when it cannot be read.
std::wstring GetStringValue(LogSink* sink, const ScopedRegKey& key, const wchar_t* valueName);
// Writes `text` as REG_SZ.
bool SetStringValue(LogSink* sink, const ScopedRegKey& key, const wchar_t* valueName, const std::wstring& text);

}  // namespace qvr
