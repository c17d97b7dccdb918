// The interface through which the installer object and its resource kinds
// write their lines (the module's installer-log sink or a host's), and the
// failure checks that write a step's level-3 line.
#pragma once

#include <cstdint>

namespace qvr {

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

// The failure checks of a step. `code` is evaluated once, by the caller;
// true when it reports success, otherwise the level-3 line `format` with
// `args` followed by the code, and false:
//   if (!CheckSuccess(sink, key.Open(...), L"ReadProfiles: can't open profiles key: 0x%08x")) return false;
// CheckSuccess: 0 is success (Windows errors, the profile store's results).
template <class... Args>
bool CheckSuccess(LogSink* sink, std::int32_t code, const wchar_t* format, Args... args) {
  if (code == 0) return true;
  LogLine(sink, kLogError, format, args..., static_cast<unsigned>(code));
  return false;
}

// CheckNotFailed: any code that is not negative is success (result codes).
template <class... Args>
bool CheckNotFailed(LogSink* sink, std::int32_t code, const wchar_t* format, Args... args) {
  if (code >= 0) return true;
  LogLine(sink, kLogError, format, args..., static_cast<unsigned>(code));
  return false;
}

}  // namespace qvr
