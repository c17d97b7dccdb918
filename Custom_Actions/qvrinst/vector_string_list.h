// The StringList that the installer object and its hosts hand each other:
// strings in a vector, destroyed by Release.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Custom_Actions/qvrinst/versioned_installer.h"

namespace qvr {

class VectorStringList final : public StringList {
 public:
  explicit VectorStringList(std::vector<std::wstring> strings = {}) : strings_(std::move(strings)) {}

  void Release() override { delete this; }
  std::uint32_t Count() override { return static_cast<std::uint32_t>(strings_.size()); }
  // Past the end: an empty string.
  const wchar_t* Get(std::uint32_t index) override { return index < strings_.size() ? strings_[index].c_str() : L""; }
  void Append(std::wstring text) { strings_.push_back(std::move(text)); }

 private:
  ~VectorStringList() = default;

  std::vector<std::wstring> strings_;
};

struct ReleaseStringList {
  void operator()(StringList* list) const noexcept { list->Release(); }
};
template <class List = StringList>
using StringListPtr = std::unique_ptr<List, ReleaseStringList>;

}  // namespace qvr
