// What the tracers that turn each record into one log line share: every
// level granted, buffers from the C runtime heap, and the record converted
// from UTF-8 (U+FFFD for each invalid sequence) before `Derived::WriteLine`
// gets it.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "component/oxa/text/utf.h"
#include "component/oxa/trace/tracer.h"
#include "log/installer_log.h"

namespace oxa {

template <class Derived>
class LineTracer : public CountedTracer<Derived> {
 public:
  ResultCode AllocateBuffer(TraceLevel /*level*/, char** buffer, std::size_t size) override {
    if (!buffer) return rc::InvalidArgument;
    // realloc with 0 bytes may free the block and answer null.
    void* grown = std::realloc(*buffer, size ? size : 1);
    if (!grown) {
      std::free(*buffer);
      *buffer = nullptr;
      return rc::OutOfMemory;
    }
    *buffer = static_cast<char*>(grown);
    return rc::Ok;
  }

  // Writes the text as one line and frees the buffer.
  ResultCode CommitBuffer(char* buffer, std::size_t size) override {
    if (!buffer) return rc::InvalidArgument;
    // No line is longer than the log writer's buffer, so neither is needed here.
    wchar_t converted[qvr::kLogLineChars];
    std::size_t length = 0;
    Utf8ToUtf16(std::string_view(buffer, size), converted, qvr::kLogLineChars, length, InvalidText::Replace);
    std::free(buffer);
    converted[std::min<std::size_t>(length, qvr::kLogLineChars - 1)] = L'\0';
    return static_cast<Derived*>(this)->WriteLine(converted);
  }

 protected:
  using CountedTracer<Derived>::CountedTracer;
  ~LineTracer() = default;
};

}  // namespace oxa
