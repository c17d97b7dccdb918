// The objects of the filtering-engine stand-in and its state file, without
// Win32: the stand-in (fwpuclnt.cpp, engine.cpp) converts between these and
// the API's structures; the file's grammar is described in engine_state.cpp.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wfpstate {

// A GUID by its fields: the defaulted order is the order of its upper-case
// text, so maps keyed by it list objects sorted by key.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  auto operator<=>(const Guid&) const = default;
  bool IsZero() const { return *this == Guid{}; }
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
std::string FormatGuid(const Guid& key);
// The braced form, either case; nothing for anything else.
std::optional<Guid> ParseGuid(std::string_view text);

// The filtering layers the stand-in knows (FWPM_LAYER_*): the ones the
// product's callouts and filters use.
extern const std::array<Guid, 18> kKnownLayers;
bool IsKnownLayer(const Guid& key);
// FWPM_SUBLAYER_UNIVERSAL: the built-in sublayer of filters added without
// one. It is never listed and cannot be added or deleted.
extern const Guid kUniversalSublayer;

using Text = std::optional<std::u16string>;  // a string the caller may leave null
using Bytes = std::vector<std::uint8_t>;

// How long an object lives: across processes and restarts, until the engine
// restarts (the stand-in has no restart), or until its dynamic session ends.
struct Lifetime {
  enum Kind { kPersistent, kVolatile, kDynamic } kind = kVolatile;
  std::string owner;  // the dynamic session: letters, digits and '.'
  bool operator==(const Lifetime&) const = default;
};

struct Provider {
  Guid key;
  Lifetime life;
  std::uint32_t flags = 0;
  Text name, description;
  Bytes data;
  Text serviceName;
  bool operator==(const Provider&) const = default;
};

struct Sublayer {
  Guid key;
  Lifetime life;
  std::uint16_t flags = 0;
  Text name, description;
  Bytes data;
  std::optional<Guid> provider;
  std::uint16_t weight = 0;
  bool operator==(const Sublayer&) const = default;
};

struct Callout {
  Guid key;
  Lifetime life;
  std::uint32_t flags = 0;
  Text name, description;
  Bytes data;
  std::optional<Guid> provider;
  Guid layer;
  std::uint32_t id = 0;
  bool operator==(const Callout&) const = default;
};

struct Filter {
  Guid key;
  Lifetime life;
  std::uint32_t flags = 0;
  Text name, description;
  Bytes data;
  std::optional<Guid> provider;
  Guid layer;
  Guid sublayer;               // kUniversalSublayer when added without one
  bool weightIsUint8 = false;  // FWP_UINT8 (a weight range 0-15) as given, else FWP_UINT64
  std::uint64_t weight = 0;
  std::uint32_t actionType = 0;
  Guid actionKey;  // the callout of a callout action, else the filter type
  std::uint64_t rawContext = 0;
  std::uint64_t id = 0;
  bool operator==(const Filter&) const = default;
};

// FWP_ACTION_FLAG_CALLOUT: the action names a callout.
inline constexpr std::uint32_t kActionFlagCallout = 0x00004000;

struct EngineState {
  std::uint32_t nextCalloutId = 1;
  std::uint64_t nextFilterId = 1;
  std::map<Guid, Provider> providers;
  std::map<Guid, Sublayer> sublayers;
  std::map<Guid, Callout> callouts;
  std::map<Guid, Filter> filters;
  bool operator==(const EngineState&) const = default;
};

// Whether `referrer` may name an object of lifetime `target`: a dynamic
// object only by objects of its own session, so that the session's end
// leaves no reference behind.
bool MayReference(const Lifetime& referrer, const Lifetime& target);

// The text of the state file.
std::string FormatState(const EngineState& state);
// Reads a state file's text; false with `error` ("line N: why") when it is
// not one, also when it names objects that are not there.
bool ParseState(std::string_view text, EngineState& state, std::string& error);

}  // namespace wfpstate
