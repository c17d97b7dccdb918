#include "component/oxa/exception/call_stack.h"

#include <algorithm>
#include <atomic>

#include "component/oxa/exception/exception_details.h"

namespace oxa {
namespace {

std::atomic<CallStackSource*> g_source{nullptr};

constexpr std::size_t kReservedModules = 10;

}  // namespace

void SetCallStackSource(CallStackSource* source) noexcept { g_source.store(source, std::memory_order_release); }

void CaptureCallStack(ExceptionDetails& details) {
  CallStackSource* source = g_source.load(std::memory_order_acquire);
  if (!source) return;
  std::uint64_t frames[kMaxCallStackFrames];
  const std::size_t count = std::min(source->CaptureFrames(frames, kMaxCallStackFrames), kMaxCallStackFrames);
  details.ReserveModules(kReservedModules);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t address = frames[i];
    if (address == 0) continue;
    details.AddFrame(address);
    if (details.FindModule(address)) continue;
    ExceptionModule module;
    if (OXA_SUCCEEDED(source->ReadModule(address, module)) && module.Contains(address)) {
      details.InsertModule(std::move(module));
    }
  }
}

}  // namespace oxa
