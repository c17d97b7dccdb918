// The tracer of a Windows Installer session: every record becomes one
// time-stamped line of the session's log.
#pragma once

#include <windows.h>
// msi.h needs the Windows types.
#include <msi.h>

#include <atomic>
#include <cstdint>

#include "log/line_tracer.h"

namespace oxa {

// Each record becomes one time-stamped line of the session log; the log
// writer escapes brackets and braces, so the engine writes them as they are.
class MsiTracer final : public LineTracer<MsiTracer>, private LiveTracerCounter {
 public:
  // No reference yet: the first AddRef makes the count 1.
  explicit MsiTracer(MSIHANDLE install) noexcept : LineTracer(0), install_(install) {}
  MsiTracer(const MsiTracer&) = delete;
  MsiTracer& operator=(const MsiTracer&) = delete;

  MSIHANDLE Session() const noexcept { return install_; }

 private:
  friend class CountedTracer<MsiTracer>;
  friend class LineTracer<MsiTracer>;
  ResultCode WriteLine(const wchar_t* line) const;
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
