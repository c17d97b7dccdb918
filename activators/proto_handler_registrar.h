// Second base of the installer object: the registrar of the product's URL
// protocol handlers and its table.
#pragma once

#include <map>
#include <string>

namespace qvr {

class LogSink;

class ProtoHandlerRegistrar {
 public:
  virtual LogSink* GetLogSink() = 0;

 protected:
  ProtoHandlerRegistrar() = default;
  ~ProtoHandlerRegistrar() = default;

  // Scheme to handler command line, filled by Initialize.
  std::map<std::wstring, std::wstring> protoHandlers_;
};

}  // namespace qvr
