// A tracer that keeps its records in memory, with switches for refusing
// levels and failing a chosen buffer request.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/oxa/trace/tracer.h"

namespace qvrtest {

class MemoryTracer : public oxa::ITracer {
 public:
  struct Request {
    oxa::TraceLevel level;
    std::size_t size;
    bool hadBuffer;
    bool operator==(const Request&) const = default;
  };

  // Levels above this are refused when a record begins.
  oxa::TraceLevel maxLevel = oxa::kTraceLevelAll;
  // Index of the buffer request that fails (-1: none).
  int failRequest = -1;
  // Whether it answers for the level interface (with maxLevel).
  bool offersLevelInterface = false;

  std::vector<std::string> records;
  std::vector<Request> requests;

  ~MemoryTracer() { EXPECT_EQ(references_, 0u) << "a reference was not released"; }

  std::uint32_t References() const { return references_; }

  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override { return --references_; }
  oxa::ResultCode QueryInterface(std::uint32_t id, void** out) override {
    if (id == oxa::kTraceLevelInterfaceId && offersLevelInterface) {
      AddRef();
      *out = &level_;
      return oxa::rc::Ok;
    }
    if (id != 0 && id != oxa::kTracerInterfaceId) return oxa::rc::InterfaceNotSupported;
    AddRef();
    *out = static_cast<oxa::ITracer*>(this);
    return oxa::rc::Ok;
  }
  oxa::ResultCode AllocateBuffer(oxa::TraceLevel level, char** buffer, std::size_t size) override {
    requests.push_back({level, size, *buffer != nullptr});
    if (!*buffer && level > maxLevel) return oxa::rc::NotMatched;
    if (static_cast<int>(requests.size()) - 1 == failRequest) {
      std::free(*buffer);
      *buffer = nullptr;
      return oxa::rc::OutOfMemory;
    }
    *buffer = static_cast<char*>(std::realloc(*buffer, size));
    return oxa::rc::Ok;
  }
  oxa::ResultCode CommitBuffer(char* buffer, std::size_t size) override {
    records.emplace_back(buffer, size);
    std::free(buffer);
    return oxa::rc::Ok;
  }

 private:
  class Level : public oxa::ITraceLevel {
   public:
    explicit Level(MemoryTracer& owner) : owner_(owner) {}
    std::uint32_t AddRef() override { return owner_.AddRef(); }
    std::uint32_t Release() override { return owner_.Release(); }
    oxa::ResultCode QueryInterface(std::uint32_t id, void** out) override { return owner_.QueryInterface(id, out); }
    const oxa::TraceLevel* GetMaxLevel() override { return &owner_.maxLevel; }

   private:
    MemoryTracer& owner_;
  };

  std::uint32_t references_ = 0;
  Level level_{*this};
};

}  // namespace qvrtest
