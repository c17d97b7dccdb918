// The list of application names that qvrhost hands to RemoveApplications;
// the installer object releases it.
#pragma once

#include "Custom_Actions/qvrinst/versioned_installer.h"

#include <memory>
#include <string>
#include <vector>

namespace qvrhost {

class HostStringList final : public qvr::StringList {
 public:
  explicit HostStringList(std::vector<std::wstring> strings) : strings_(std::move(strings)) {}

  void Release() override { delete this; }
  std::uint32_t Count() override { return static_cast<std::uint32_t>(strings_.size()); }
  // Past the end: an empty string.
  const wchar_t* Get(std::uint32_t index) override { return index < strings_.size() ? strings_[index].c_str() : L""; }

 private:
  ~HostStringList() = default;

  std::vector<std::wstring> strings_;
};

struct ReleaseStringList {
  void operator()(qvr::StringList* list) const { list->Release(); }
};
// A list received from the installer object (or not taken by it).
using StringListPtr = std::unique_ptr<qvr::StringList, ReleaseStringList>;

}  // namespace qvrhost
