#include "component/oxa/text/utf.h"

#include <new>
#include <typeinfo>

namespace oxa {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One decoded character, or an invalid sequence of `length` units.
struct Decoded {
  char32_t code;
  std::size_t length;
  bool valid;
};

Decoded DecodeUtf8(const unsigned char* text, std::size_t available) {
  const unsigned lead = text[0];
  if (lead < 0x80) return {lead, 1, true};
  std::size_t continuations;
  char32_t code;
  // The range of the second byte excludes overlong forms, surrogates and
  // values above U+10FFFF; later bytes are plain continuation bytes.
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuations = 3;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  for (std::size_t k = 1; k <= continuations; ++k) {
    if (k >= available || text[k] < low || text[k] > high) return {0, k, false};
    code = (code << 6) | (text[k] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {code, continuations + 1, true};
}

Decoded DecodeUtf16(const wchar_t* text, std::size_t available) {
  const auto unit = static_cast<std::uint32_t>(text[0]);
  if (unit > 0xFFFF) return {0, 1, false};
  if (unit < 0xD800 || unit > 0xDFFF) return {unit, 1, true};
  if (unit >= 0xDC00 || available < 2) return {0, 1, false};
  const auto next = static_cast<std::uint32_t>(text[1]);
  if (next < 0xDC00 || next > 0xDFFF) return {0, 1, false};
  return {0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), 2, true};
}

// Counts the units it is given and stores those that fit.
template <typename Unit>
class Output {
 public:
  Output(Unit* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  void Put(std::uint32_t unit) {
    if (out_ && length_ < capacity_) out_[length_] = static_cast<Unit>(unit);
    ++length_;
  }

  ResultCode Finish(std::size_t& length) const {
    length = length_;
    return out_ && length_ > capacity_ ? rc::BufferTooSmall : rc::Ok;
  }

 private:
  Unit* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

void PutUtf16(Output<wchar_t>& out, char32_t code) {
  if (code < 0x10000) {
    out.Put(code);
  } else {
    out.Put(0xD800 + ((code - 0x10000) >> 10));
    out.Put(0xDC00 + ((code - 0x10000) & 0x3FF));
  }
}

void PutUtf8(Output<char>& out, char32_t code) {
  if (code < 0x80) {
    out.Put(code);
  } else if (code < 0x800) {
    out.Put(0xC0 | (code >> 6));
    out.Put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out.Put(0xE0 | (code >> 12));
    out.Put(0x80 | ((code >> 6) & 0x3F));
    out.Put(0x80 | (code & 0x3F));
  } else {
    out.Put(0xF0 | (code >> 18));
    out.Put(0x80 | ((code >> 12) & 0x3F));
    out.Put(0x80 | ((code >> 6) & 0x3F));
    out.Put(0x80 | (code & 0x3F));
  }
}

}  // namespace

ResultCode Utf8ToUtf16(std::string_view utf8, wchar_t* out, std::size_t capacity, std::size_t& length,
                       InvalidText invalid) noexcept {
  const auto* text = reinterpret_cast<const unsigned char*>(utf8.data());
  Output<wchar_t> output(out, capacity);
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded decoded = DecodeUtf8(text + i, utf8.size() - i);
    if (!decoded.valid && invalid == InvalidText::Reject) return rc::InvalidArgument;
    PutUtf16(output, decoded.valid ? decoded.code : kReplacement);
    i += decoded.length;
  }
  return output.Finish(length);
}

ResultCode Utf16ToUtf8(std::wstring_view utf16, char* out, std::size_t capacity, std::size_t& length,
                       InvalidText invalid) noexcept {
  Output<char> output(out, capacity);
  for (std::size_t i = 0; i < utf16.size();) {
    const Decoded decoded = DecodeUtf16(utf16.data() + i, utf16.size() - i);
    if (!decoded.valid && invalid == InvalidText::Reject) return rc::InvalidArgument;
    PutUtf8(output, decoded.valid ? decoded.code : kReplacement);
    i += decoded.length;
  }
  return output.Finish(length);
}

void ThrowConversionFailure(ResultCode code) {
  if (code == rc::OutOfMemory) throw std::bad_alloc();
  throw std::bad_cast();
}

}  // namespace oxa
