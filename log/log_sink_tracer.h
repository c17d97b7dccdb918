// A tracer over a log sink: each framework record becomes one line of the
// sink at level 1, the text as it is (not used as a format). For framework
// code that an operation with a sink runs, such as the user-hive walk.
#pragma once

#include "component/oxa/trace/tracer.h"

namespace qvr {

class LogSink;

// A new tracer writing to `sink` (not owned; it must outlive the tracer; a
// null or disabled sink gets nothing). Throws std::bad_alloc.
oxa::TracerRef CreateLogSinkTracer(LogSink* sink);

}  // namespace qvr
