#include "component/oxa/trace/failed_check.h"

namespace oxa {

FailedCheckRecord::FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression,
                                     ResultCode code) noexcept
    : FailedCheckRecord(tracer, site, expression, "OXA_SUCCEEDED(_result)", code) {}

FailedCheckRecord::FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression,
                                     std::string_view condition, ResultCode code) noexcept
    : record_(tracer, kTraceError) {
  const SourcePosition position = PositionOf(site);
  record_ << position.file << ":" << position.line << "(" << expression << "),(" << condition << ") failed: "
          << "result = " << TraceResultWithText(code);
}

FailedCheckRecord::FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression) noexcept
    : record_(tracer, kTraceError) {
  const SourcePosition position = PositionOf(site);
  record_ << position.file << ":" << position.line << "(" << expression << "),(bool) failed: result = false";
}

}  // namespace oxa
