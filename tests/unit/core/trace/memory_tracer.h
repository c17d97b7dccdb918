// The tests' one tracer: keeps each record with the level it was granted for
// and every buffer request; can refuse levels, fail a chosen request and
// stand in as the current tracer while it lives.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/oxa/trace/tracer.h"

namespace qvrtest {

class MemoryTracer : public oxa::ITracer {
 public:
  struct Record {
    oxa::TraceLevel level;
    std::string text;
    bool operator==(const Record&) const = default;
    friend void PrintTo(const Record& r, std::ostream* out) { *out << r.level << " " << testing::PrintToString(r.text); }
  };
  struct Request {
    oxa::TraceLevel level;
    std::size_t size;
    bool hadBuffer;
    bool operator==(const Request&) const = default;
  };

  explicit MemoryTracer(bool current = false) : current_(current) {
    if (current_) oxa::ReplaceCurrentTracer(this);
  }
  ~MemoryTracer() {
    if (current_) oxa::ReplaceCurrentTracer(nullptr);
    EXPECT_EQ(references_, 0u) << "a reference was not released";
  }
  MemoryTracer(const MemoryTracer&) = delete;
  MemoryTracer& operator=(const MemoryTracer&) = delete;

  oxa::TraceLevel maxLevel = oxa::kTraceLevelAll;  // levels above are refused
  int failRequest = -1;                            // index of the request that fails
  std::vector<Record> records;
  std::vector<Request> requests;

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Record& record : records) texts.push_back(record.text);
    return texts;
  }
  std::uint32_t References() const { return references_; }

  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override { return --references_; }
  // No level interface: a prefixed tracer over it lets every level through.
  oxa::ResultCode QueryInterface(std::uint32_t, void**) override { return oxa::rc::InterfaceNotSupported; }
  oxa::ResultCode AllocateBuffer(oxa::TraceLevel level, char** buffer, std::size_t size) override {
    requests.push_back({level, size, *buffer != nullptr});
    if (!*buffer) {
      if (level > maxLevel) return oxa::rc::NotMatched;
      pending_ = level;  // growth requests carry another level
    }
    if (static_cast<int>(requests.size()) - 1 == failRequest) {
      std::free(*buffer);
      *buffer = nullptr;
      return oxa::rc::OutOfMemory;
    }
    *buffer = static_cast<char*>(std::realloc(*buffer, size));
    return oxa::rc::Ok;
  }
  oxa::ResultCode CommitBuffer(char* buffer, std::size_t size) override {
    records.push_back({pending_, std::string(buffer, size)});
    std::free(buffer);
    return oxa::rc::Ok;
  }

 private:
  bool current_;
  std::uint32_t references_ = 0;
  oxa::TraceLevel pending_ = 0;
};

}  // namespace qvrtest
