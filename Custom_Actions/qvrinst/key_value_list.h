// The "key=value|key=value" parameter lists of CustomActionData and of the
// registry-value declarations.
#pragma once

#include <map>
#include <string>

namespace qvr {

class KeyValueList {
 public:
  // Parses [begin, end); the map is emptied first. The first occurrence of a
  // key wins. Returns false (and sets the parse-failed flag) for a key
  // without "=" or an "=" where a key should start.
  bool ParseKeyValueList(const wchar_t* begin, const wchar_t* end);
  bool Parse(const std::wstring& text) { return ParseKeyValueList(text.data(), text.data() + text.size()); }

  // The stored value, or an empty string for a missing key.
  const std::wstring& GetValue(const std::wstring& key) const;

  bool ParseFailed() const { return parse_failed_; }
  const std::map<std::wstring, std::wstring>& Pairs() const { return pairs_; }

 private:
  bool parse_failed_ = false;
  std::map<std::wstring, std::wstring> pairs_;
  const std::wstring empty_;
};

}  // namespace qvr
