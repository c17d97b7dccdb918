// Second base of the installer object: the registrar of the product's URL
// protocol handlers and its table. Every declared protocol is registered
// under HKEY_CLASSES_ROOT, whatever the features or the product type.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace qvr {

class LogSink;

struct ProtoHandlerRecord {
  std::wstring name;  // the scheme
  std::wstring command;
  std::wstring descr;
};

class ProtoHandlerRegistrar {
 public:
  virtual LogSink* GetLogSink() = 0;

  // Fills the table from the subkeys of `keyPath` under HKEY_LOCAL_MACHINE,
  // one per scheme of at most 24 characters, each with a required Command
  // and an optional Descr. False at the first declaration that cannot be
  // read; the ones read before stay in the table.
  bool ReadProtoHandlers(const std::wstring& keyPath);
  // HKCR\<scheme> with its description and "URL Protocol", and
  // HKCR\<scheme>\shell\open\command with the command line, for every record.
  bool RegisterProtoHandlers();
  // Deletes the key tree of every declared scheme; a missing one is fine.
  bool UnRegisterProtoHandlers();

  // A REG_SZ or REG_EXPAND_SZ value as stored (not expanded); the empty
  // string, with a logged reason, when it cannot be read.
  std::wstring GetStringValue(HKEY key, const wchar_t* valueName);
  // Writes `text` as REG_SZ.
  bool SetStringValue(HKEY key, const wchar_t* valueName, const std::wstring& text);

  const std::map<std::wstring, ProtoHandlerRecord>& ProtoHandlers() const { return protoHandlers_; }

 protected:
  ProtoHandlerRegistrar() = default;
  ~ProtoHandlerRegistrar() = default;

  // Scheme to its declaration, filled by Initialize.
  std::map<std::wstring, ProtoHandlerRecord> protoHandlers_;
};

}  // namespace qvr
