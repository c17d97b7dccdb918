// The interface through which the installer object and its activators write
// their lines: the module's own installer-log sink or a host's.
#pragma once

namespace qvr {

// Where the installer object and its activators write their lines.
class LogSink {
 public:
  virtual bool IsEnabled() = 0;
  virtual void Write(int level, const wchar_t* format, ...) = 0;

 protected:
  ~LogSink() = default;
};

// A host's sink crosses into the 32-bit module: a vtable pointer only.
static_assert(sizeof(void*) != 4 || sizeof(LogSink) == 4);

// Log levels of LogSink::Write.
enum LogLevel : int { kLogDetail = 0, kLogInfo = 1, kLogError = 3 };

// Writes a line when there is a sink that wants lines; nothing is formatted
// otherwise.
template <class... Args>
void LogLine(LogSink* sink, int level, const wchar_t* format, Args... args) {
  if (sink && sink->IsEnabled()) sink->Write(level, format, args...);
}

}  // namespace qvr
