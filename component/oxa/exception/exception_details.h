// The block an exception and its copies share: narrow message, properties,
// call stack with its module table, and the cached what() text.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "component/oxa/exception/exception_property.h"
#include "component/oxa/string/string.h"

namespace oxa {

// A loaded module that holds frames of a call stack.
struct ExceptionModule {
  string_t path;      // full path (GetModuleFileNameA)
  string_t identity;  // CodeView GUID and age, as text; empty without a debug record
  std::uint64_t base = 0;
  std::uint64_t size = 0;

  bool Contains(std::uint64_t address) const noexcept { return address >= base && address - base < size; }
};

class ExceptionDetails {
 public:
  // Created with one reference.
  ExceptionDetails() = default;
  ExceptionDetails(const ExceptionDetails&) = delete;
  ExceptionDetails& operator=(const ExceptionDetails&) = delete;

  void AddRef() noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  // Destroys the block with its last reference.
  void Release() noexcept;

  const string_t& GetMessageText() const noexcept { return message_; }
  void SetMessageText(std::string_view message);

  const std::vector<ExceptionProperty>& GetProperties() const noexcept { return properties_; }
  const ExceptionProperty* FindProperty(std::string_view name) const noexcept;
  // Replaces the value of a property of the same name, else appends it.
  void SetProperty(ExceptionProperty property);

  const std::vector<std::uint64_t>& GetCallStack() const noexcept { return frames_; }
  void AddFrame(std::uint64_t address);
  // Sorted by load address.
  const std::vector<ExceptionModule>& GetModules() const noexcept { return modules_; }
  void ReserveModules(std::size_t count) { modules_.reserve(count); }
  const ExceptionModule* FindModule(std::uint64_t address) const noexcept;
  // Keeps the table sorted; a module that is already present is not added again.
  void InsertModule(ExceptionModule module);

  // One line per frame: "%2d# path!identity!offset" or "%2d# address" (hex).
  void AppendCallStackText(string_t& out) const;
  // The what() text for an exception thrown at file(line); built once, until
  // a property changes.
  const char* GetWhatText(const char* file, std::int32_t line) const;

 private:
  ~ExceptionDetails() = default;

  std::atomic<std::int32_t> references_{1};
  string_t message_;
  std::vector<ExceptionProperty> properties_;
  std::vector<std::uint64_t> frames_;
  std::vector<ExceptionModule> modules_;
  mutable string_t what_;
  mutable bool whatBuilt_ = false;
};

}  // namespace oxa
