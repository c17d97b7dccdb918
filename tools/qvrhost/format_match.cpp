#include "tools/qvrhost/format_match.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qvrhost {
namespace {

enum class Piece { kLiteral, kText, kSigned, kUnsigned, kHex };

struct FormatPiece {
  Piece kind;
  std::wstring literal;  // kLiteral
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsHexDigit(wchar_t c) { return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

Piece ConversionKind(wchar_t type) {
  switch (type) {
    case L'd':
    case L'i':
      return Piece::kSigned;
    case L'u':
      return Piece::kUnsigned;
    case L'x':
    case L'X':
    case L'p':
      return Piece::kHex;
    default:
      return Piece::kText;
  }
}

// Literal runs and conversions; flags, width, precision and length
// modifiers are read over. A '%' at the end is a literal.
std::vector<FormatPiece> SplitFormat(std::wstring_view format) {
  std::vector<FormatPiece> pieces;
  std::wstring literal;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 == format.size()) {
      literal.push_back(format[i]);
      continue;
    }
    std::size_t j = i + 1;
    while (j < format.size() &&
           std::wstring_view(L"-+ #0123456789.*hlLwIjzt").find(format[j]) != std::wstring_view::npos)
      ++j;
    if (j == format.size()) {
      literal.append(format.substr(i));
      break;
    }
    if (format[j] == L'%') {
      literal.push_back(L'%');
    } else {
      if (!literal.empty()) pieces.push_back({Piece::kLiteral, std::move(literal)});
      literal.clear();
      pieces.push_back({ConversionKind(format[j]), {}});
    }
    i = j;
  }
  if (!literal.empty()) pieces.push_back({Piece::kLiteral, std::move(literal)});
  return pieces;
}

// The ends of the number that a conversion of `kind` can read at `start`:
// padding blanks, a sign for kSigned, then at least one digit.
std::vector<std::size_t> NumberEnds(Piece kind, std::wstring_view text, std::size_t start) {
  std::size_t i = start;
  while (i < text.size() && text[i] == L' ') ++i;
  if (kind == Piece::kSigned && i < text.size() && text[i] == L'-') ++i;
  std::vector<std::size_t> ends;
  while (i < text.size() && (kind == Piece::kHex ? IsHexDigit(text[i]) : IsDigit(text[i]))) ends.push_back(++i);
  return ends;
}

class Matcher {
 public:
  Matcher(std::vector<FormatPiece> pieces, std::wstring_view text)
      : pieces_(std::move(pieces)), text_(text), failed_((pieces_.size() + 1) * (text.size() + 1), false) {}

  // Whether pieces from `piece` on match the text from `at` to its end.
  // A position that failed once is not tried again, so the cost stays
  // within pieces times the text's length squared.
  bool From(std::size_t piece, std::size_t at) {
    if (piece == pieces_.size()) return at == text_.size();
    const std::size_t slot = piece * (text_.size() + 1) + at;
    if (failed_[slot]) return false;
    if (Try(piece, at)) return true;
    failed_[slot] = true;
    return false;
  }

 private:
  bool Try(std::size_t piece, std::size_t at) {
    const FormatPiece& current = pieces_[piece];
    switch (current.kind) {
      case Piece::kLiteral:
        return text_.substr(at).starts_with(current.literal) && From(piece + 1, at + current.literal.size());
      case Piece::kText:
        for (std::size_t end = at; end <= text_.size(); ++end)
          if (From(piece + 1, end)) return true;
        return false;
      default:
        for (const std::size_t end : NumberEnds(current.kind, text_, at))
          if (From(piece + 1, end)) return true;
        return false;
    }
  }

  std::vector<FormatPiece> pieces_;
  std::wstring_view text_;
  std::vector<bool> failed_;
};

}  // namespace

bool MatchesFormat(std::wstring_view format, std::wstring_view text) {
  return Matcher(SplitFormat(format), text).From(0, 0);
}

}  // namespace qvrhost
