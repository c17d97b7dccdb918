// A tracer that puts a fixed tag in front of every record of another tracer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "component/oxa/string/string.h"
#include "component/oxa/trace/tracer.h"

namespace oxa {

// Lives on the process heap. The record buffers it hands out start behind
// room for the tag, which CommitBuffer fills in.
class PrefixedTracer final : public CountedTracer<PrefixedTracer>, private LiveTracerCounter {
 public:
  // One reference for the caller; the tag is `prefix` and a tab. Throws
  // std::bad_alloc.
  static PrefixedTracer* Create(TracerRef inner, std::string_view prefix);

  // A new record above the maximum level is refused with rc::NotMatched.
  ResultCode AllocateBuffer(TraceLevel level, char** buffer, std::size_t size) override;
  ResultCode CommitBuffer(char* buffer, std::size_t size) override;

  TraceLevel MaxLevel() const noexcept { return *maxLevel_; }

  static void* operator new(std::size_t bytes) { return ProcessHeapAllocate(bytes); }
  static void operator delete(void* block) noexcept { ProcessHeapFree(block); }

 private:
  friend class CountedTracer<PrefixedTracer>;
  PrefixedTracer(TracerRef inner, const TraceLevel* maxLevel, string_t tag) noexcept;
  ~PrefixedTracer() = default;

  TracerRef inner_;
  const TraceLevel* maxLevel_;  // the inner tracer's, or a constant
  string_t tag_;
};

}  // namespace oxa
