#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "component/oxa/text/utf.h"
#include "component/oxa/trace/tracer.h"

namespace oxa {
namespace {

constexpr char kDigits[] = "0123456789abcdef";
constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

// Writes `value` in `base` backwards from `end`; returns the first digit.
char* WriteDigits(char* end, std::uint64_t value, unsigned base) {
  do {
    *--end = kDigits[value % base];
    value /= base;
  } while (value != 0);
  return end;
}

// memcpy must not see the null data of an empty view.
void CopyText(char* out, std::string_view text) {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
}

std::uint64_t TruncateToBytes(std::uint64_t value, std::size_t bytes) {
  return bytes >= sizeof(value) ? value : value & ((std::uint64_t{1} << (8 * bytes)) - 1);
}

}  // namespace

TraceRecord::TraceRecord(ITracer* tracer, TraceLevel level) noexcept {
  if (!tracer) return;
  char* buffer = nullptr;
  if (tracer->AllocateBuffer(level, &buffer, kInitialCapacity) != rc::Ok || !buffer) return;
  tracer->AddRef();
  tracer_ = tracer;
  buffer_ = buffer;
  capacity_ = kInitialCapacity;
}

void TraceRecord::End() noexcept {
  if (!tracer_) return;
  if (char* buffer = std::exchange(buffer_, nullptr)) tracer_->CommitBuffer(buffer, length_);
  std::exchange(tracer_, nullptr)->Release();
  length_ = 0;
  capacity_ = 0;
}

bool TraceRecord::Reserve(std::size_t extra) noexcept {
  if (buffer_ && extra <= capacity_ - length_) return true;
  if (extra > kMaxSize / 2 - length_) return false;  // beyond any buffer: only this append is dropped
  const std::size_t needed = length_ + extra;
  const std::size_t grown = std::max(capacity_ <= kMaxSize / 2 ? 2 * capacity_ : kMaxSize, needed);
  char* buffer = buffer_;
  if (tracer_->AllocateBuffer(kTraceLevelAll, &buffer, grown) != rc::Ok || !buffer) {
    // The tracer has freed the old buffer (or left it to us); what was
    // written so far is gone, later appends start again.
    buffer_ = buffer;
    length_ = 0;
    capacity_ = 0;
    return false;
  }
  buffer_ = buffer;
  capacity_ = grown;
  return true;
}

char* TraceRecord::PlaceItem(std::string_view sign, std::size_t bodyLength) noexcept {
  const std::size_t width = width_ > 0 ? static_cast<std::size_t>(width_) : 0;
  width_ = 0;
  if (!tracer_ || bodyLength > kMaxSize / 2 - sign.size()) return nullptr;
  const std::size_t itemLength = sign.size() + bodyLength;
  const std::size_t padding = width > itemLength ? width - itemLength : 0;
  if (itemLength + padding == 0 || !Reserve(itemLength + padding)) return nullptr;

  char* out = buffer_ + length_;
  length_ += itemLength + padding;
  const TraceFlags adjust = flags_ & kTraceAdjustField;
  if (adjust == kTraceLeft) {
    CopyText(out, sign);
    std::memset(out + itemLength, fill_, padding);
    return out + sign.size();
  }
  if (adjust == kTraceInternal) {
    CopyText(out, sign);
    std::memset(out + sign.size(), fill_, padding);
    return out + sign.size() + padding;
  }
  std::memset(out, fill_, padding);
  CopyText(out + padding, sign);
  return out + padding + sign.size();
}

TraceRecord& TraceRecord::Append(std::string_view text) noexcept {
  if (char* body = PlaceItem({}, text.size())) CopyText(body, text);
  return *this;
}

TraceRecord& TraceRecord::AppendWide(std::wstring_view text) noexcept {
  if (!tracer_) return *this;
  std::size_t length = 0;
  Utf16ToUtf8(text, nullptr, 0, length, InvalidText::Replace);
  if (char* body = PlaceItem({}, length)) Utf16ToUtf8(text, body, length, length, InvalidText::Replace);
  return *this;
}

TraceRecord& TraceRecord::AppendInteger(bool negative, std::uint64_t value, std::size_t bytes) noexcept {
  if (!tracer_) return *this;
  char digits[24];
  char* const end = digits + sizeof(digits);
  const TraceFlags base = flags_ & kTraceBaseField;
  std::string_view sign;
  const char* first;
  if (base == kTraceHex) {
    first = WriteDigits(end, TruncateToBytes(value, bytes), 16);
    if (flags_ & kTraceShowBase) sign = "0x";
  } else if (base == kTraceOct) {
    first = WriteDigits(end, TruncateToBytes(value, bytes), 8);
  } else {
    // The magnitude of a negative number, computed without overflow.
    first = WriteDigits(end, negative ? ~value + 1 : value, 10);
    if (negative) sign = "-";
  }
  const std::size_t length = static_cast<std::size_t>(end - first);
  if (char* body = PlaceItem(sign, length)) std::memcpy(body, first, length);
  return *this;
}

TraceRecord& TraceRecord::operator<<(double value) noexcept {
  if (!tracer_) return *this;
  // General notation with `precision_` significant digits, as a stream does.
  const int precision = precision_ < 0 ? 6 : std::min(precision_, 40);
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, precision);
  if (error != std::errc()) return Append("(number)");
  std::string_view digits(text, static_cast<std::size_t>(end - text));
  std::string_view sign;
  if (!digits.empty() && digits.front() == '-') {
    sign = digits.substr(0, 1);
    digits.remove_prefix(1);
  }
  if (char* body = PlaceItem(sign, digits.size())) std::memcpy(body, digits.data(), digits.size());
  return *this;
}

TraceRecord& TraceRecord::operator<<(const void* pointer) noexcept {
  if (!tracer_) return *this;
  char digits[24];
  char* const end = digits + sizeof(digits);
  const char* first = WriteDigits(end, reinterpret_cast<std::uintptr_t>(pointer), 16);
  const std::size_t length = static_cast<std::size_t>(end - first);
  if (char* body = PlaceItem("0x", length)) std::memcpy(body, first, length);
  return *this;
}

TraceRecord& TraceRecord::operator<<(TracedResult result) noexcept {
  if (!tracer_) return *this;
  char hex[10] = {'0', 'x'};
  const auto bits = static_cast<std::uint32_t>(result.code);
  for (int i = 0; i < 8; ++i) hex[2 + i] = kDigits[(bits >> (28 - 4 * i)) & 0xF];
  const std::string_view text = result.withText ? GetResultCodeText(result.code) : std::string_view();
  const std::size_t length = sizeof(hex) + (result.withText ? text.size() + 3 : 0);
  if (char* body = PlaceItem({}, length)) {
    std::memcpy(body, hex, sizeof(hex));
    if (result.withText) {
      body += sizeof(hex);
      std::memcpy(body, " (", 2);
      std::memcpy(body + 2, text.data(), text.size());
      body[2 + text.size()] = ')';
    }
  }
  return *this;
}

}  // namespace oxa
