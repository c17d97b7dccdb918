#include "component/oxa/trace/failed_check.h"

namespace oxa {

FailedCheckRecord::FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression,
                                     ResultCode code) noexcept
    : record_(tracer, kTraceError) {
  const SourcePosition position = PositionOf(site);
  record_ << position.file << ":" << position.line << "(" << expression << "),(OXA_SUCCEEDED(_result)) failed: "
          << "result = " << TraceResultWithText(code);
}

}  // namespace oxa
