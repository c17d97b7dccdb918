#include "log/log_sink_tracer.h"

#include "log/line_tracer.h"
#include "log/log_sink.h"

namespace qvr {
namespace {

class LogSinkTracer final : public oxa::LineTracer<LogSinkTracer>, private oxa::LiveTracerCounter {
 public:
  explicit LogSinkTracer(LogSink* sink) noexcept : LineTracer(1), sink_(sink) {}

 private:
  friend class oxa::CountedTracer<LogSinkTracer>;
  friend class oxa::LineTracer<LogSinkTracer>;
  ~LogSinkTracer() = default;

  // A record is committed where nothing may throw: a host's sink that throws
  // loses that line only.
  oxa::ResultCode WriteLine(const wchar_t* line) const noexcept {
    try {
      LogLine(sink_, kLogInfo, L"%ls", line);
      return oxa::rc::Ok;
    } catch (...) {
      return oxa::rc::UnspecifiedError;
    }
  }

  LogSink* sink_;
};

}  // namespace

oxa::TracerRef CreateLogSinkTracer(LogSink* sink) { return oxa::TracerRef::Adopt(new LogSinkTracer(sink)); }

}  // namespace qvr
