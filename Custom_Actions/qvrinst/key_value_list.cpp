#include "Custom_Actions/qvrinst/key_value_list.h"

namespace qvr {

bool KeyValueList::ParseKeyValueList(const wchar_t* begin, const wchar_t* end) {
  enum class State { ExpectKey, InKey, InValue, Error };
  parse_failed_ = false;
  pairs_.clear();
  State state = State::ExpectKey;
  std::wstring key;
  std::wstring value;
  for (const wchar_t* p = begin; p != end && state != State::Error; ++p) {
    const wchar_t c = *p;
    switch (state) {
      case State::ExpectKey:
        if (c == L' ' || c == L'\t' || c == L';') break;
        if (c == L'=') {
          state = State::Error;
          break;
        }
        key.assign(1, c);
        value.clear();
        state = State::InKey;
        break;
      case State::InKey:
        if (c == L'=')
          state = State::InValue;
        else
          key.push_back(c);
        break;
      case State::InValue:
        if (c == L'|') {
          pairs_.emplace(key, value);  // keeps the first occurrence
          state = State::ExpectKey;
        } else {
          value.push_back(c);
        }
        break;
      case State::Error:
        break;
    }
  }
  if (state == State::InValue) {
    pairs_.emplace(key, value);
    state = State::ExpectKey;
  }
  parse_failed_ = state != State::ExpectKey;
  return !parse_failed_;
}

const std::wstring& KeyValueList::GetValue(const std::wstring& key) const {
  const auto it = pairs_.find(key);
  return it == pairs_.end() ? empty_ : it->second;
}

}  // namespace qvr
