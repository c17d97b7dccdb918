#include "component/oxa/trace/null_tracer.h"

namespace oxa {
namespace {

class RefusingTracer final : public CountedTracer<RefusingTracer> {
 public:
  RefusingTracer() noexcept : CountedTracer(1) {}
  ResultCode AllocateBuffer(TraceLevel, char** buffer, std::size_t) override {
    if (buffer) *buffer = nullptr;
    return rc::NotSupported;
  }
  ResultCode CommitBuffer(char*, std::size_t) override { return rc::NotSupported; }
};

}  // namespace

ITracer* NullTracer() noexcept {
  // Its own reference keeps it alive for the life of the process.
  static RefusingTracer tracer;
  return &tracer;
}

}  // namespace oxa
