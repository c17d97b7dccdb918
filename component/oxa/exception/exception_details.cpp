#include "component/oxa/exception/exception_details.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace oxa {
namespace {

void AppendDecimal(string_t& out, std::int64_t value) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, static_cast<std::size_t>(end - text));
}

void AppendBareHex(string_t& out, std::uint64_t value) {
  char text[16];
  const auto end = std::to_chars(text, text + sizeof text, value, 16).ptr;
  out.append(text, static_cast<std::size_t>(end - text));
}

}  // namespace

void ExceptionDetails::Release() noexcept {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void ExceptionDetails::SetMessageText(std::string_view message) {
  message_.assign(message);
  whatBuilt_ = false;
}

const ExceptionProperty* ExceptionDetails::FindProperty(std::string_view name) const noexcept {
  const auto found = std::find_if(properties_.begin(), properties_.end(),
                                  [name](const ExceptionProperty& property) { return property.GetName() == name; });
  return found == properties_.end() ? nullptr : &*found;
}

void ExceptionDetails::SetProperty(ExceptionProperty property) {
  whatBuilt_ = false;
  for (auto& present : properties_) {
    if (present.GetName() == property.GetName()) {
      present = std::move(property);
      return;
    }
  }
  if (properties_.size() == properties_.max_size()) throw std::length_error("vector::append");
  properties_.push_back(std::move(property));
}

void ExceptionDetails::AddFrame(std::uint64_t address) {
  frames_.push_back(address);
  whatBuilt_ = false;
}

const ExceptionModule* ExceptionDetails::FindModule(std::uint64_t address) const noexcept {
  // The last module that loads at or below the address.
  auto after = std::upper_bound(modules_.begin(), modules_.end(), address,
                                [](std::uint64_t value, const ExceptionModule& module) { return value < module.base; });
  if (after == modules_.begin()) return nullptr;
  const ExceptionModule& candidate = *(after - 1);
  return candidate.Contains(address) ? &candidate : nullptr;
}

void ExceptionDetails::InsertModule(ExceptionModule module) {
  auto place = std::lower_bound(modules_.begin(), modules_.end(), module.base,
                                [](const ExceptionModule& present, std::uint64_t base) { return present.base < base; });
  if (place != modules_.end() && place->base == module.base) return;
  modules_.insert(place, std::move(module));
  whatBuilt_ = false;
}

void ExceptionDetails::AppendCallStackText(string_t& out) const {
  for (std::size_t index = 0; index < frames_.size(); ++index) {
    if (index < 10) out.push_back(' ');
    AppendDecimal(out, static_cast<std::int64_t>(index));
    out.append("# ");
    const std::uint64_t address = frames_[index];
    if (const ExceptionModule* module = FindModule(address)) {
      out.append(module->path);
      out.push_back('!');
      out.append(module->identity);
      out.push_back('!');
      AppendBareHex(out, address - module->base);
    } else {
      AppendBareHex(out, address);
    }
    out.push_back('\n');
  }
}

const char* ExceptionDetails::GetWhatText(const char* file, std::int32_t line) const {
  if (whatBuilt_) return what_.c_str();
  string_t text;
  text.append(file ? std::string_view(file) : std::string_view());
  text.push_back('(');
  AppendDecimal(text, line);
  text.append("): ");
  text.append(message_);
  text.push_back('.');
  if (properties_.empty()) {
    text.push_back(' ');
  } else {
    text.append(" Properties:");
    for (const auto& property : properties_) {
      text.push_back('\n');
      text.append(property.GetName());
      text.push_back('=');
      property.AppendValueText(text);
    }
    text.push_back('\n');
  }
  text.append("Call stack:\n");
  AppendCallStackText(text);
  what_ = std::move(text);
  whatBuilt_ = true;
  return what_.c_str();
}

}  // namespace oxa
