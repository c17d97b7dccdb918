// The tracer of a Windows Installer session: every record becomes one
// time-stamped line of the session's log.
#pragma once

#include <windows.h>
#include <msi.h>

#include <atomic>
#include <cstdint>

#include "component/oxa/trace/tracer.h"

namespace oxa {

// Grants every level. Buffers come from the C runtime heap.
class MsiTracer final : public CountedTracer<MsiTracer>, private LiveTracerCounter {
 public:
  // No reference yet: the first AddRef makes the count 1.
  explicit MsiTracer(MSIHANDLE install) noexcept : CountedTracer(0), install_(install) {}
  MsiTracer(const MsiTracer&) = delete;
  MsiTracer& operator=(const MsiTracer&) = delete;

  ResultCode AllocateBuffer(TraceLevel level, char** buffer, std::size_t size) override;
  // Writes the text as one log line and frees the buffer. Text that is not
  // valid UTF-8 is written with U+FFFD for each invalid sequence; the log
  // writer escapes brackets and braces, so the engine writes them as they are.
  ResultCode CommitBuffer(char* buffer, std::size_t size) override;

  MSIHANDLE Session() const noexcept { return install_; }

 private:
  friend class CountedTracer<MsiTracer>;
  // After the interface's five slots.
  virtual ~MsiTracer() = default;

  MSIHANDLE install_;
};

// Reference count and session handle behind the table pointer.
static_assert(sizeof(void*) != 4 || sizeof(MsiTracer) == 12);

// Makes a new MsiTracer for `install` the current tracer and releases the
// previous one. rc::InvalidArgument for a null handle (the current tracer is
// kept); rc::UnspecifiedError, with a line in the session log, when the
// tracer cannot be created. Never throws.
ResultCode InstallSessionTracer(MSIHANDLE install) noexcept;

}  // namespace oxa
