#include "component/oxa/trace/prefixed_tracer.h"

#include <cstring>
#include <limits>
#include <utility>

namespace oxa {
namespace {

constexpr TraceLevel kDefaultMaxLevel = kTraceLevelAll;

// The maximum level the inner tracer tells through its level interface. The
// pointer stays valid while the inner tracer lives.
const TraceLevel* MaxLevelOf(ITracer& inner) {
  void* levelInterface = nullptr;
  if (OXA_SUCCEEDED(inner.QueryInterface(kTraceLevelInterfaceId, &levelInterface)) && levelInterface) {
    auto* level = static_cast<ITraceLevel*>(levelInterface);
    const TraceLevel* max = level->GetMaxLevel();
    level->Release();
    if (max) return max;
  }
  return &kDefaultMaxLevel;
}

}  // namespace

TracerRef CreatePrefixedTracer(ITracer* inner, const char* prefix, std::size_t length) {
  if (!inner || length == 0) return TracerRef::Share(inner);
  return TracerRef::Adopt(PrefixedTracer::Create(TracerRef::Share(inner), std::string_view(prefix, length)));
}

PrefixedTracer* PrefixedTracer::Create(TracerRef inner, std::string_view prefix) {
  string_t tag(prefix);
  tag.push_back('\t');
  const TraceLevel* maxLevel = MaxLevelOf(*inner.get());
  return new PrefixedTracer(std::move(inner), maxLevel, std::move(tag));
}

PrefixedTracer::PrefixedTracer(TracerRef inner, const TraceLevel* maxLevel, string_t tag) noexcept
    : CountedTracer(1), inner_(std::move(inner)), maxLevel_(maxLevel), tag_(std::move(tag)) {}

ResultCode PrefixedTracer::AllocateBuffer(TraceLevel level, char** buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  if (!*buffer && level > *maxLevel_) return rc::NotMatched;
  const std::size_t tag = tag_.size();
  if (size > std::numeric_limits<std::size_t>::max() - tag) return rc::OutOfMemory;
  char* whole = *buffer ? *buffer - tag : nullptr;
  const ResultCode result = inner_->AllocateBuffer(level, &whole, size + tag);
  *buffer = whole ? whole + tag : nullptr;
  return result;
}

ResultCode PrefixedTracer::CommitBuffer(char* buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  char* whole = buffer - tag_.size();
  std::memcpy(whole, tag_.data(), tag_.size());
  return inner_->CommitBuffer(whole, size + tag_.size());
}

}  // namespace oxa
