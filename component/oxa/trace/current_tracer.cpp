// The process-wide current tracer and the count of live tracer objects.
#include <atomic>

#include "component/oxa/trace/tracer.h"

namespace oxa {
namespace {

// Constant-initialised, so it exists before any code can use it; released
// when the module unloads.
class TracerSlot {
 public:
  constexpr TracerSlot() noexcept = default;
  TracerSlot(const TracerSlot&) = delete;
  TracerSlot& operator=(const TracerSlot&) = delete;
  ~TracerSlot() { Replace(nullptr); }

  ITracer* Get() const noexcept { return tracer_.load(std::memory_order_acquire); }

  void Replace(ITracer* tracer) noexcept {
    if (tracer) tracer->AddRef();
    if (ITracer* previous = tracer_.exchange(tracer, std::memory_order_acq_rel)) previous->Release();
  }

 private:
  std::atomic<ITracer*> tracer_{nullptr};
};

constinit TracerSlot g_currentTracer;
constinit std::atomic<std::int32_t> g_liveTracers{0};

}  // namespace

ITracer* GetCurrentTracer() noexcept { return g_currentTracer.Get(); }

void ReplaceCurrentTracer(ITracer* tracer) noexcept { g_currentTracer.Replace(tracer); }

std::int32_t GetLiveTracerCount() noexcept { return g_liveTracers.load(); }

LiveTracerCounter::LiveTracerCounter() noexcept { ++g_liveTracers; }
LiveTracerCounter::LiveTracerCounter(const LiveTracerCounter&) noexcept { ++g_liveTracers; }
LiveTracerCounter::~LiveTracerCounter() { --g_liveTracers; }

}  // namespace oxa
