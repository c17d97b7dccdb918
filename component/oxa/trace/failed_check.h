// The record of a failed check that the operation survives: traced at level
// 300 at the check's fixed position, and the operation goes on.
#pragma once

#include <string_view>

#include "component/oxa/exception/check_sites.h"
#include "component/oxa/trace/tracer.h"

namespace oxa {

// Writes "<file>:<line>(<expression>),(OXA_SUCCEEDED(_result)) failed:
// result = 0x%08x (<text>)" and then what the caller streams in (its
// message, without a separator); committed when the statement ends:
//   oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfileOpen, "...", code) << "Failed to open " << name;
class FailedCheckRecord {
 public:
  FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression, ResultCode code) noexcept;
  // A check whose condition is not OXA_SUCCEEDED(_result), such as a
  // Windows error compared with 0: "...,(<condition>) failed: result = ...".
  FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression, std::string_view condition,
                    ResultCode code) noexcept;
  // A boolean check: "<file>:<line>(<expression>),(bool) failed: result = false".
  FailedCheckRecord(ITracer* tracer, CheckSite site, std::string_view expression) noexcept;
  FailedCheckRecord(const FailedCheckRecord&) = delete;
  FailedCheckRecord& operator=(const FailedCheckRecord&) = delete;

  template <class T>
  FailedCheckRecord& operator<<(const T& item) noexcept {
    record_ << item;
    return *this;
  }

 private:
  TraceRecord record_;
};

}  // namespace oxa
