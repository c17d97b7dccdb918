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
class MsiTracer final : public ITracer, private LiveTracerCounter {
 public:
  // No reference yet: the first AddRef makes the count 1.
  explicit MsiTracer(MSIHANDLE install) noexcept : install_(install) {}
  MsiTracer(const MsiTracer&) = delete;
  MsiTracer& operator=(const MsiTracer&) = delete;

  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  ResultCode QueryInterface(std::uint32_t id, void** out) override;
  ResultCode AllocateBuffer(TraceLevel level, char** buffer, std::size_t size) override;
  // Writes the text as one log line and frees the buffer. Text that is not
  // valid UTF-8 is written with U+FFFD for each invalid sequence; brackets
  // and braces are escaped so that the engine writes them as they are.
  ResultCode CommitBuffer(char* buffer, std::size_t size) override;

  MSIHANDLE Session() const noexcept { return install_; }

 private:
  // After the interface's five slots.
  virtual ~MsiTracer() = default;

  std::atomic<std::uint32_t> references_{0};
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
