// A tracer that wants no record: every buffer request is refused with
// rc::NotSupported, so a trace statement to it evaluates nothing.
#pragma once

#include "component/oxa/trace/tracer.h"

namespace oxa {

// The one null tracer, never destroyed; references to it may be taken and
// released freely.
ITracer* NullTracer() noexcept;

}  // namespace oxa
