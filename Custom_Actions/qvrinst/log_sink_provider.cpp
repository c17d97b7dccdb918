#include "Custom_Actions/qvrinst/log_sink_provider.h"

#include "Custom_Actions/qvrinst/msi_log.h"

namespace qvr {

bool LogSinkProvider::InitCommonRegKeys() {
  // The product's identity comes from product_info.dll, which this build does
  // not load yet: without it no key path can be derived.
  if (sink_ && sink_->IsEnabled()) sink_->Write(kLogError, L"InitCommonRegKeys: product identity is not available");
  return false;
}

}  // namespace qvr
