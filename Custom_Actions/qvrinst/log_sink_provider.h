// First base of the installer object: the log sink and the product's
// registry key paths.
#pragma once

#include <array>
#include <string>

namespace qvr {

class LogSink;

class LogSinkProvider {
 public:
  virtual LogSink* GetLogSink() { return sink_; }

  // Computes the 13 registry key paths of the product. False when the
  // product's identity cannot be obtained.
  bool InitCommonRegKeys();

 protected:
  LogSinkProvider() = default;
  ~LogSinkProvider() = default;

  LogSink* sink_ = nullptr;  // not owned
  std::array<std::wstring, 13> commonRegKeys_;
};

}  // namespace qvr
