// The Windows call-stack source, installed when the image starts.
#include <windows.h>

#include <algorithm>

#include "component/oxa/exception/call_stack.h"
#include "component/oxa/exception/module_info_win.h"

namespace oxa {
namespace {

using CaptureStackBackTraceFn = USHORT(WINAPI*)(ULONG framesToSkip, ULONG framesToCapture, PVOID* backTrace,
                                                PULONG backTraceHash);

// This function, CaptureCallStack and the exception constructor.
constexpr ULONG kSkippedFrames = 3;

class Win32CallStackSource final : public CallStackSource {
 public:
  Win32CallStackSource() : capture_(Resolve()) { SetCallStackSource(this); }
  ~Win32CallStackSource() { SetCallStackSource(nullptr); }

  std::size_t CaptureFrames(std::uint64_t* frames, std::size_t capacity) noexcept override {
    if (!capture_) return 0;
    void* addresses[kMaxCallStackFrames];
    const ULONG wanted = static_cast<ULONG>(std::min(capacity, kMaxCallStackFrames));
    const USHORT count = capture_(kSkippedFrames, wanted, addresses, nullptr);
    for (USHORT i = 0; i < count; ++i) frames[i] = reinterpret_cast<std::uintptr_t>(addresses[i]);
    return count;
  }

  ResultCode ReadModule(std::uint64_t address, ExceptionModule& module) override {
    return ReadModuleInfoForAddress(address, module);
  }

 private:
  static CaptureStackBackTraceFn Resolve() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    return reinterpret_cast<CaptureStackBackTraceFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlCaptureStackBackTrace")));
  }

  CaptureStackBackTraceFn capture_;
};

Win32CallStackSource g_win32Source;

}  // namespace
}  // namespace oxa

// Referenced by the link options of qvr_win so that every image linking it
// keeps this object, and with it the installed source.
extern "C" const int oxa_win32_call_stack_source = 0;
