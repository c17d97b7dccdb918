// Where exceptions with a narrow message get their call stack from. The
// platform installs its source; without one the stack stays empty.
#pragma once

#include <cstddef>
#include <cstdint>

#include "component/oxa/result_code.h"

namespace oxa {

class ExceptionDetails;
struct ExceptionModule;

inline constexpr std::size_t kMaxCallStackFrames = 62;

class CallStackSource {
 public:
  // Return addresses of the thrower's stack, innermost first, at most
  // `capacity` (null entries allowed); returns the count.
  virtual std::size_t CaptureFrames(std::uint64_t* frames, std::size_t capacity) noexcept = 0;
  // Path, debug identity, load address and size of the module holding `address`.
  virtual ResultCode ReadModule(std::uint64_t address, ExceptionModule& module) = 0;

 protected:
  ~CallStackSource() = default;
};

// Null restores "no call stacks".
void SetCallStackSource(CallStackSource* source) noexcept;

// Fills the call stack of `details` and a module table for its frames; frames
// whose module cannot be read stay bare addresses.
void CaptureCallStack(ExceptionDetails& details);

}  // namespace oxa
