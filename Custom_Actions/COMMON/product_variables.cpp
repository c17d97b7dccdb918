#include "Custom_Actions/COMMON/product_variables.h"

namespace qvr {
namespace {

std::wstring ValueOf(const std::wstring& name, ProductVariableSource& source) {
  std::wstring value = source.StoredValue(name);
  if (!value.empty()) return value;
  const std::wstring reference = L"%" + name + L"%";
  value = source.SystemExpansion(reference);
  return value == reference ? std::wstring() : value;
}

}  // namespace

std::wstring ExpandProductVariables(const std::wstring& text, ProductVariableSource& source) {
  std::wstring result = text;
  int references = 0;
  std::size_t position = 0;
  for (;;) {
    const std::size_t open = result.find(L'%', position);
    if (open == std::wstring::npos) break;
    const std::size_t close = result.find(L'%', open + 1);
    if (close == std::wstring::npos) break;
    if (++references == kProductVariableReferenceLimit) {
      result.clear();
      break;
    }
    std::wstring value = ValueOf(result.substr(open + 1, close - open - 1), source);
    // One backslash where a path and a value that carries its own meet.
    if (!value.empty() && open > 0 && result[open - 1] == L'\\' && value.front() == L'\\') value.erase(0, 1);
    if (!value.empty() && close + 1 < result.size() && result[close + 1] == L'\\' && value.back() == L'\\') {
      value.pop_back();
    }
    result.replace(open, close - open + 1, value);
    position = open;
  }
  return references == 0 ? source.StoredValue(text) : result;
}

}  // namespace qvr
