// First base of the installer object: the log sink and the product's
// registry key paths.
#pragma once

#include "platform/product_info/common_reg_keys.h"

namespace qvr {

class LogSink;

class LogSinkProvider {
 public:
  virtual LogSink* GetLogSink() { return sink_; }

  // Computes the 13 registry key paths of the product from the product
  // registry key of product_info.dll (the file named by the environment
  // variable ProductInfoDLL when it exists, else the one found by
  // LocateProductInfoLibrary). False, with a level-3 line, when the product's
  // identity cannot be obtained.
  bool InitCommonRegKeys();

 protected:
  LogSinkProvider() = default;
  ~LogSinkProvider() = default;

  LogSink* sink_ = nullptr;  // not owned
  CommonRegKeys commonRegKeys_;
};

}  // namespace qvr
