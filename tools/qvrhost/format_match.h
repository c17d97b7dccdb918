// Whether a text is what a printf-style format of the module could have
// written: the format is split into its literal parts and conversions, and
// the text is matched against them as text, never compiled into a pattern.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qvrhost {

// One format, split once into its pieces.
class PrintfFormat {
 public:
  explicit PrintfFormat(std::wstring_view format);
  // See MatchesFormat.
  bool Matches(std::wstring_view text) const;

  enum class Piece { kLiteral, kText, kSigned, kUnsigned, kHex };
  struct FormatPiece {
    Piece kind;
    std::wstring literal;  // kLiteral
  };

 private:
  std::vector<FormatPiece> pieces_;
};

// The conversions of the Windows wide functions: %s, %ls, %hs, %S and %c
// match any text (also empty), %d and %i a signed decimal, %u an unsigned
// one, %x, %X and %p hexadecimal digits, each after the padding its width
// asks for; %% is a percent sign. Any other conversion matches any text.
bool MatchesFormat(std::wstring_view format, std::wstring_view text);

}  // namespace qvrhost
