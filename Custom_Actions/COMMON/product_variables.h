// Expansion of product variables: "%Name%" references in a text replaced by
// the product's environment values, as the task profile import reads
// ProductRoot and ProfilesXmlPath. No Win32 here; the values come from a
// ProductVariableSource.
#pragma once

#include <string>

namespace qvr {

class ProductVariableSource {
 public:
  // The value stored for `name` in the product's environment key; empty when
  // there is none or it cannot be read.
  virtual std::wstring StoredValue(const std::wstring& name) = 0;
  // The system's expansion of `reference` ("%name%"); the reference itself
  // when the system knows no such variable.
  virtual std::wstring SystemExpansion(const std::wstring& reference) = 0;

 protected:
  ~ProductVariableSource() = default;
};

// References counted from the start of an expansion; the one that reaches
// this count empties the whole text (a value that refers to itself stops
// there).
inline constexpr int kProductVariableReferenceLimit = 15;

// Replaces each "%Name%" of `text` by the stored value of Name, else by its
// system expansion when that differs from the reference, else by nothing;
// the text is scanned again from each replacement, so references inside
// values are expanded too. A value loses its leading backslash when one
// stands before the reference, and its trailing backslash when one follows
// it. A text without any reference is itself taken as a name: the result is
// its stored value.
std::wstring ExpandProductVariables(const std::wstring& text, ProductVariableSource& source);

}  // namespace qvr
