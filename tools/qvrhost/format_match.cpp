#include "tools/qvrhost/format_match.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace qvrhost {
namespace {

using Piece = PrintfFormat::Piece;
using FormatPiece = PrintfFormat::FormatPiece;

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

// The positions of the text that the pieces so far can have reached, as
// flags over 0..size: each piece moves the set forward once, so the cost is
// the pieces times the text's length (times a literal's length).
using Reached = std::vector<bool>;

Reached AfterLiteral(const Reached& from, std::wstring_view literal, std::wstring_view text) {
  Reached to(from.size(), false);
  for (std::size_t at = 0; at + literal.size() <= text.size(); ++at)
    if (from[at] && text.substr(at, literal.size()) == literal) to[at + literal.size()] = true;
  return to;
}

// Any text: everything from the first position reached on.
Reached AfterText(const Reached& from) {
  Reached to(from.size(), false);
  bool any = false;
  for (std::size_t at = 0; at < from.size(); ++at) to[at] = any = any || from[at];
  return to;
}

// Padding blanks, a sign for kSigned, then one or more digits: from each
// position reached, every end inside its run of digits.
Reached AfterNumber(const Reached& from, Piece kind, std::wstring_view text) {
  Reached to(from.size(), false);
  auto isDigit = [&](wchar_t c) { return kind == Piece::kHex ? IsHexDigit(c) : IsDigit(c); };
  std::size_t marked = 0;  // ends below this are marked already
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!from[at]) continue;
    std::size_t i = at;
    while (i < text.size() && text[i] == L' ') ++i;
    if (kind == Piece::kSigned && i < text.size() && text[i] == L'-') ++i;
    std::size_t end = i;
    while (end < text.size() && isDigit(text[end])) ++end;
    for (std::size_t digitEnd = std::max(i + 1, marked); digitEnd <= end; ++digitEnd) to[digitEnd] = true;
    marked = std::max(marked, end + 1);
  }
  return to;
}

}  // namespace

PrintfFormat::PrintfFormat(std::wstring_view format) : pieces_(SplitFormat(format)) {}

bool MatchesFormat(std::wstring_view format, std::wstring_view text) { return PrintfFormat(format).Matches(text); }

bool PrintfFormat::Matches(std::wstring_view text) const {
  const std::vector<FormatPiece>& pieces = pieces_;
  // Most formats start with their operation's name: most lines fail here.
  if (!pieces.empty() && pieces[0].kind == Piece::kLiteral && !text.starts_with(pieces[0].literal)) return false;
  Reached reached(text.size() + 1, false);
  reached[0] = true;
  for (const FormatPiece& piece : pieces) {
    switch (piece.kind) {
      case Piece::kLiteral:
        reached = AfterLiteral(reached, piece.literal, text);
        break;
      case Piece::kText:
        reached = AfterText(reached);
        break;
      default:
        reached = AfterNumber(reached, piece.kind, text);
    }
  }
  return reached.back();
}

}  // namespace qvrhost
