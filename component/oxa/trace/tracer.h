// The oxa trace facility: the tracer interface, the process-wide current
// tracer, prefixed tracers, and the trace statement that builds one record in
// a UTF-8 buffer granted by the tracer.
//
//   OXA_TRACE(oxa::kTraceInfo) << "Need to check and load new product info from '" << path << "'";
//   OXA_TRACE_TO(tracer.get(), oxa::kTraceError) << "failed, err " << oxa::TraceResultWithText(code);
//
// A statement whose record the tracer refuses (no tracer, level not wanted)
// evaluates none of its operands. A trace statement never throws.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "component/oxa/result_code.h"

namespace oxa {

// Lower is more important.
using TraceLevel = std::uint32_t;
constexpr TraceLevel kTraceError = 300;    // failed checks and errors
constexpr TraceLevel kTraceNotice = 500;   // conditions worth noting
constexpr TraceLevel kTraceInfo = 700;     // progress
constexpr TraceLevel kTraceDetail = 800;   // detail
// The level of buffer growth requests, and the default maximum of a prefixed
// tracer over a tracer that does not tell its own.
constexpr TraceLevel kTraceLevelAll = 1000;

constexpr std::uint32_t kTracerInterfaceId = 0x6ef3329b;
constexpr std::uint32_t kTraceLevelInterfaceId = 0x9397b017;

// A reference-counted tracer of the framework's component model. The slot
// order is fixed: other modules of the product call it through GetTracer.
class ITracer {
 public:
  // Both return the new count; Release destroys the object at 0.
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  // Ids 0 and kTracerInterfaceId: adds a reference and stores the object;
  // other ids: rc::InterfaceNotSupported, *out untouched.
  virtual ResultCode QueryInterface(std::uint32_t id, void** out) = 0;
  // Grants (*buffer null) or resizes (*buffer from an earlier call, contents
  // kept) a record buffer of `size` bytes. On failure *buffer is null (an old
  // buffer freed) or, if the tracer kept it, still the old buffer.
  virtual ResultCode AllocateBuffer(TraceLevel level, char** buffer, std::size_t size) = 0;
  // Takes ownership of a granted buffer and emits its first `size` bytes
  // (UTF-8, not NUL-terminated) as one record.
  virtual ResultCode CommitBuffer(char* buffer, std::size_t size) = 0;

 protected:
  ~ITracer() = default;
};

// The reference count and interface query that every tracer of this
// framework implements alike. `Derived` is destroyed by the last Release
// (it names this class a friend when its destructor is private).
template <class Derived>
class CountedTracer : public ITracer {
 public:
  std::uint32_t AddRef() override { return references_.fetch_add(1) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t count = references_.fetch_sub(1) - 1;
    if (count == 0) delete static_cast<Derived*>(this);
    return count;
  }
  ResultCode QueryInterface(std::uint32_t id, void** out) override {
    if (!out) return rc::InvalidArgument;
    if (id != 0 && id != kTracerInterfaceId) return rc::InterfaceNotSupported;
    AddRef();
    *out = static_cast<ITracer*>(this);
    return rc::Ok;
  }

 protected:
  explicit CountedTracer(std::uint32_t references) noexcept : references_(references) {}
  ~CountedTracer() = default;

 private:
  std::atomic<std::uint32_t> references_;
};

// Offered by tracers that filter by level (interface id kTraceLevelInterfaceId).
class ITraceLevel {
 public:
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  virtual ResultCode QueryInterface(std::uint32_t id, void** out) = 0;
  // The tracer's maximum level; valid while the tracer lives.
  virtual const TraceLevel* GetMaxLevel() = 0;

 protected:
  ~ITraceLevel() = default;
};

// Owns one reference to a tracer (or none).
class TracerRef {
 public:
  TracerRef() noexcept = default;
  // Takes over a reference the caller owns.
  static TracerRef Adopt(ITracer* tracer) noexcept { return TracerRef(tracer); }
  // Adds a reference of its own.
  static TracerRef Share(ITracer* tracer) noexcept {
    if (tracer) tracer->AddRef();
    return TracerRef(tracer);
  }

  TracerRef(const TracerRef& other) noexcept : TracerRef(Share(other.tracer_)) {}
  TracerRef(TracerRef&& other) noexcept : tracer_(other.Detach()) {}
  TracerRef& operator=(TracerRef other) noexcept {
    std::swap(tracer_, other.tracer_);
    return *this;
  }
  ~TracerRef() {
    if (tracer_) tracer_->Release();
  }

  ITracer* get() const noexcept { return tracer_; }
  ITracer* operator->() const noexcept { return tracer_; }
  explicit operator bool() const noexcept { return tracer_ != nullptr; }
  // Hands the reference to the caller.
  ITracer* Detach() noexcept {
    ITracer* tracer = tracer_;
    tracer_ = nullptr;
    return tracer;
  }

 private:
  explicit TracerRef(ITracer* tracer) noexcept : tracer_(tracer) {}

  ITracer* tracer_ = nullptr;
};

// A tracer that writes "<prefix>\t" in front of every record of `inner` and
// lets through levels up to the inner tracer's maximum (kTraceLevelAll when it
// offers no ITraceLevel). An empty prefix gives `inner` itself; a null `inner`
// gives an empty reference. Throws std::bad_alloc.
TracerRef CreatePrefixedTracer(ITracer* inner, const char* prefix, std::size_t length);
inline TracerRef CreatePrefixedTracer(ITracer* inner, std::string_view prefix) {
  return CreatePrefixedTracer(inner, prefix.data(), prefix.size());
}

// The process-wide current tracer (null until one is installed). No reference
// is added: a caller that keeps it beyond the next replacement shares it.
ITracer* GetCurrentTracer() noexcept;
// Places a reference to `tracer` (may be null) in the slot and releases the
// tracer that was there.
void ReplaceCurrentTracer(ITracer* tracer) noexcept;

// Live tracer objects of this module (session and prefixed tracers).
std::int32_t GetLiveTracerCount() noexcept;
// Counts an object as live from construction to destruction.
class LiveTracerCounter {
 public:
  LiveTracerCounter() noexcept;
  LiveTracerCounter(const LiveTracerCounter&) noexcept;
  LiveTracerCounter& operator=(const LiveTracerCounter&) noexcept { return *this; }
  ~LiveTracerCounter();
};

// ---- Trace records ---------------------------------------------------------

// Format flags of a record, in the manner of a stream's.
using TraceFlags = std::uint32_t;
constexpr TraceFlags kTraceDec = 0x01;
constexpr TraceFlags kTraceHex = 0x02;
constexpr TraceFlags kTraceOct = 0x04;
constexpr TraceFlags kTraceBaseField = kTraceDec | kTraceHex | kTraceOct;
constexpr TraceFlags kTraceShowBase = 0x08;
constexpr TraceFlags kTraceLeft = 0x10;
constexpr TraceFlags kTraceRight = 0x20;
constexpr TraceFlags kTraceInternal = 0x40;
constexpr TraceFlags kTraceAdjustField = kTraceLeft | kTraceRight | kTraceInternal;

// Manipulators: `<< oxa::hex << oxa::showbase << oxa::setw(8) << value`.
struct TraceSetFlags {
  TraceFlags set;
  TraceFlags mask;
};
inline constexpr TraceSetFlags dec{kTraceDec, kTraceBaseField};
inline constexpr TraceSetFlags hex{kTraceHex, kTraceBaseField};
inline constexpr TraceSetFlags oct{kTraceOct, kTraceBaseField};
inline constexpr TraceSetFlags showbase{kTraceShowBase, kTraceShowBase};
inline constexpr TraceSetFlags noshowbase{0, kTraceShowBase};
inline constexpr TraceSetFlags left{kTraceLeft, kTraceAdjustField};
inline constexpr TraceSetFlags right{kTraceRight, kTraceAdjustField};
inline constexpr TraceSetFlags internal{kTraceInternal, kTraceAdjustField};

struct TraceWidth {
  int width;
};
struct TraceFill {
  char fill;
};
struct TracePrecision {
  int precision;
};
// The width applies to the next item only.
constexpr TraceWidth setw(int width) { return {width}; }
constexpr TraceFill setfill(char fill) { return {fill}; }
// Significant digits of floating-point numbers.
constexpr TracePrecision setprecision(int precision) { return {precision}; }

// A result code as "0x%08x", or "0x%08x (text)" with its text.
struct TracedResult {
  ResultCode code;
  bool withText;
};
constexpr TracedResult TraceResult(ResultCode code) { return {code, false}; }
constexpr TracedResult TraceResultWithText(ResultCode code) { return {code, true}; }

// One trace statement in progress. Granted when the tracer hands out a buffer
// for the level; the destructor commits it. Appends to a refused record do
// nothing. Nothing here throws: a buffer that cannot grow empties the record
// and drops the append that did not fit.
class TraceRecord {
 public:
  static constexpr std::size_t kInitialCapacity = 512;

  TraceRecord(ITracer* tracer, TraceLevel level) noexcept;
  ~TraceRecord() { End(); }
  TraceRecord(const TraceRecord&) = delete;
  TraceRecord& operator=(const TraceRecord&) = delete;

  explicit operator bool() const noexcept { return tracer_ != nullptr; }
  // Commits the text (if a buffer is held); later appends do nothing.
  void End() noexcept;

  // UTF-8 bytes. Other wide text than valid UTF-16 is written with U+FFFD in
  // place of each invalid unit.
  TraceRecord& Append(std::string_view text) noexcept;
  TraceRecord& AppendWide(std::wstring_view text) noexcept;

  TraceRecord& operator<<(const char* text) noexcept { return text ? Append(text) : Append("(null)"); }
  TraceRecord& operator<<(std::string_view text) noexcept { return Append(text); }
  TraceRecord& operator<<(const std::string& text) noexcept { return Append(text); }
  TraceRecord& operator<<(const wchar_t* text) noexcept { return text ? AppendWide(text) : Append("(null)"); }
  TraceRecord& operator<<(std::wstring_view text) noexcept { return AppendWide(text); }
  TraceRecord& operator<<(const std::wstring& text) noexcept { return AppendWide(text); }
  TraceRecord& operator<<(char c) noexcept { return Append(std::string_view(&c, 1)); }
  TraceRecord& operator<<(bool value) noexcept { return Append(value ? "true" : "false"); }
  // Integers of every width; signed char and unsigned char count as numbers.
  template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
             !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
             !std::is_same_v<T, char32_t>)
  TraceRecord& operator<<(T value) noexcept {
    if constexpr (std::is_signed_v<T>) {
      return AppendInteger(value < 0, static_cast<std::uint64_t>(value), sizeof(T));
    } else {
      return AppendInteger(false, static_cast<std::uint64_t>(value), sizeof(T));
    }
  }
  TraceRecord& operator<<(double value) noexcept;
  // As hexadecimal with "0x".
  TraceRecord& operator<<(const void* pointer) noexcept;
  TraceRecord& operator<<(TracedResult result) noexcept;

  TraceRecord& operator<<(TraceSetFlags flags) noexcept {
    flags_ = (flags_ & ~flags.mask) | flags.set;
    return *this;
  }
  TraceRecord& operator<<(TraceWidth width) noexcept {
    width_ = width.width;
    return *this;
  }
  TraceRecord& operator<<(TraceFill fill) noexcept {
    fill_ = fill.fill;
    return *this;
  }
  TraceRecord& operator<<(TracePrecision precision) noexcept {
    precision_ = precision.precision;
    return *this;
  }

  // What the record holds so far (for tests of the formatting).
  std::string_view Text() const noexcept { return {buffer_ ? buffer_ : "", length_}; }
  std::size_t Capacity() const noexcept { return capacity_; }

 private:
  // `value` is the two's complement bits of a `bytes`-wide integer.
  TraceRecord& AppendInteger(bool negative, std::uint64_t value, std::size_t bytes) noexcept;
  // Lays out one item of `sign` (sign or base prefix) and a body of
  // `bodyLength` bytes, padded to the width, which it resets. Returns where the
  // body goes, or null when the item is dropped.
  char* PlaceItem(std::string_view sign, std::size_t bodyLength) noexcept;
  // Room for `extra` more bytes; false (record emptied) when it cannot grow.
  bool Reserve(std::size_t extra) noexcept;

  char* buffer_ = nullptr;
  ITracer* tracer_ = nullptr;  // one reference while granted
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
  TraceFlags flags_ = kTraceDec;
  int precision_ = 6;
  char fill_ = ' ';
  int width_ = 0;
};

}  // namespace oxa

// One trace statement on `tracer` / on the current tracer. The operands after
// the macro are evaluated only when the record is granted.
#define OXA_TRACE_TO(tracer, level)                                                       \
  if (::oxa::TraceRecord oxa_trace_record_{(tracer), static_cast<::oxa::TraceLevel>(level)}; \
      !oxa_trace_record_) {                                                               \
  } else                                                                                  \
    oxa_trace_record_
#define OXA_TRACE(level) OXA_TRACE_TO(::oxa::GetCurrentTracer(), level)
