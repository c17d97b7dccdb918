// The state file of the filtering-engine stand-in: ASCII text, one record a
// line, every line ending in "\n", fields separated by one space:
//
//   wfp-standin-state 1
//   ids NEXT_CALLOUT_ID NEXT_FILTER_ID
//   provider KEY LIFE FLAGS NAME DESCRIPTION DATA SERVICE_NAME
//   sublayer KEY LIFE FLAGS NAME DESCRIPTION DATA PROVIDER WEIGHT
//   callout KEY LIFE FLAGS NAME DESCRIPTION DATA PROVIDER LAYER ID
//   filter KEY LIFE FLAGS NAME DESCRIPTION DATA PROVIDER LAYER SUBLAYER WEIGHT ACTION ACTION_KEY CONTEXT ID
//   end
//
// KEY, LAYER, SUBLAYER, ACTION_KEY: a braced GUID; PROVIDER: one, or "-".
// LIFE: "persistent", "volatile" or "dynamic:OWNER" (OWNER: letters, digits,
// '.'). FLAGS, ACTION: "0x" and 1 to 8 hex digits. NAME, DESCRIPTION,
// SERVICE_NAME: "-" for none, else the UTF-16 units between double quotes,
// printable ASCII other than space, '%' and '"' as itself, any other unit as '%'
// and 4 hex digits. DATA: "-" for none, else 2 hex digits a byte. The filter's
// WEIGHT: "u8:N" (N up to 15) or "u64:N"; the sublayer's WEIGHT, ids,
// CONTEXT, ID: decimal. An object comes after the objects it names, which
// must exist (a filter's SUBLAYER may be the universal sublayer), lie in a
// known layer (a filter's callout in its own) and live as long as it does
// (MayReference). Keys are unique per kind, ids per kind and below the next
// id. Anything else, "end" missing included, is a broken file.
#include "standins/fwpuclnt/engine_state.h"

#include <charconv>
#include <cstdio>
#include <set>
#include <utility>

namespace wfpstate {

const std::array<Guid, 18> kKnownLayers{{
    {0x1247D66D, 0x0B60, 0x4A15, {0x8D, 0x44, 0x71, 0x55, 0xD0, 0xF5, 0x3A, 0x0C}},  // ALE_RESOURCE_ASSIGNMENT_V4
    {0x74365CCE, 0xCCB0, 0x401A, {0xBF, 0xC1, 0xB8, 0x99, 0x34, 0xAD, 0x7E, 0x15}},  // ALE_RESOURCE_RELEASE_V4
    {0x0B5812A2,
     0xC3FF,
     0x4ECA,
     {0xB8, 0x8D, 0xC7, 0x9E, 0x20, 0xAC, 0x63, 0x22}},  // ALE_RESOURCE_ASSIGNMENT_V4_DISCARD
    {0x55A650E1, 0x5F0A, 0x4ECA, {0xA6, 0x53, 0x88, 0xF5, 0x3B, 0x26, 0xAA, 0x8C}},  // ALE_RESOURCE_ASSIGNMENT_V6
    {0xF4E5CE80, 0xEDCC, 0x4E13, {0x8A, 0x2F, 0xB9, 0x14, 0x54, 0xBB, 0x05, 0x7B}},  // ALE_RESOURCE_RELEASE_V6
    {0xCBC998BB,
     0xC51F,
     0x4C1A,
     {0xBB, 0x4F, 0x97, 0x75, 0xFC, 0xAC, 0xAB, 0x2F}},  // ALE_RESOURCE_ASSIGNMENT_V6_DISCARD
    {0xC38D57D1, 0x05A7, 0x4C33, {0x90, 0x4F, 0x7F, 0xBC, 0xEE, 0xE6, 0x0E, 0x82}},  // ALE_AUTH_CONNECT_V4
    {0xB4766427, 0xE2A2, 0x467A, {0xBD, 0x7E, 0xDB, 0xCD, 0x1B, 0xD8, 0x5A, 0x09}},  // ALE_ENDPOINT_CLOSURE_V4
    {0xAF80470A, 0x5596, 0x4C13, {0x99, 0x92, 0x53, 0x9E, 0x6F, 0xE5, 0x79, 0x67}},  // ALE_FLOW_ESTABLISHED_V4
    {0x4A72393B, 0x319F, 0x44BC, {0x84, 0xC3, 0xBA, 0x54, 0xDC, 0xB3, 0xB6, 0xB4}},  // ALE_AUTH_CONNECT_V6
    {0xBB536CCD, 0x4755, 0x4BA9, {0x9F, 0xF7, 0xF9, 0xED, 0xF8, 0x69, 0x9C, 0x7B}},  // ALE_ENDPOINT_CLOSURE_V6
    {0x7021D2B3, 0xDFA4, 0x406E, {0xAF, 0xEB, 0x6A, 0xFA, 0xF7, 0xE7, 0x0E, 0xFD}},  // ALE_FLOW_ESTABLISHED_V6
    {0x3B89653C, 0xC170, 0x49E4, {0xB1, 0xCD, 0xE0, 0xEE, 0xEE, 0xE1, 0x9A, 0x3E}},  // STREAM_V4
    {0x47C9137A, 0x7EC4, 0x46B3, {0xB6, 0xE4, 0x48, 0xE9, 0x26, 0xB1, 0xED, 0xA4}},  // STREAM_V6
    {0x3D08BF4E, 0x45F6, 0x4930, {0xA9, 0x22, 0x41, 0x70, 0x98, 0xE2, 0x00, 0x27}},  // DATAGRAM_DATA_V4
    {0xFA45FE2F, 0x3CBA, 0x4427, {0x87, 0xFC, 0x57, 0xB9, 0xA4, 0xB1, 0x0D, 0x00}},  // DATAGRAM_DATA_V6
    {0xE1CD9FE7, 0xF4B5, 0x4273, {0x96, 0xC0, 0x59, 0x2E, 0x48, 0x7B, 0x86, 0x50}},  // ALE_AUTH_RECV_ACCEPT_V4
    {0xA3B42C97, 0x9F04, 0x4672, {0xB8, 0x7E, 0xCE, 0xE9, 0xC4, 0x83, 0x25, 0x7F}},  // ALE_AUTH_RECV_ACCEPT_V6
}};

const Guid kUniversalSublayer{0xEEBECC03, 0xCED4, 0x4380, {0x81, 0x9A, 0x27, 0x34, 0x39, 0x7B, 0x2B, 0x74}};

bool IsKnownLayer(const Guid& key) {
  for (const Guid& layer : kKnownLayers)
    if (layer == key) return true;
  return false;
}

bool MayReference(const Lifetime& referrer, const Lifetime& target) {
  return target.kind != Lifetime::kDynamic || referrer == target;
}

std::string FormatGuid(const Guid& key) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(key.data1), key.data2, key.data3, key.data4[0], key.data4[1], key.data4[2],
                key.data4[3], key.data4[4], key.data4[5], key.data4[6], key.data4[7]);
  return text;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `digits` hex digits of `text` from `at`; -1 when one is not.
long long Hex(std::string_view text, std::size_t at, std::size_t digits) {
  long long value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
      text[37] != '}')
    return std::nullopt;
  Guid key;
  const long long data1 = Hex(text, 1, 8), data2 = Hex(text, 10, 4), data3 = Hex(text, 15, 4);
  if (data1 < 0 || data2 < 0 || data3 < 0) return std::nullopt;
  key.data1 = static_cast<std::uint32_t>(data1);
  key.data2 = static_cast<std::uint16_t>(data2);
  key.data3 = static_cast<std::uint16_t>(data3);
  constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    const long long byte = Hex(text, kByteAt[i], 2);
    if (byte < 0) return std::nullopt;
    key.data4[i] = static_cast<std::uint8_t>(byte);
  }
  return key;
}

// --- writing ------------------------------------------------------------------

namespace {

std::string FormatText(const Text& text) {
  if (!text) return "-";
  std::string out = "\"";
  for (const char16_t unit : *text) {
    if (unit > 0x20 && unit < 0x7F && unit != '%' && unit != '"') {
      out.push_back(static_cast<char>(unit));
    } else {
      out.push_back('%');
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHexDigits[(unit >> shift) & 0xF]);
    }
  }
  return out + "\"";
}

std::string FormatBytes(const Bytes& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  for (const std::uint8_t byte : bytes) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0xF]);
  }
  return out;
}

std::string FormatFlags(std::uint32_t flags) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(flags));
  return text;
}

std::string FormatLife(const Lifetime& life) {
  switch (life.kind) {
    case Lifetime::kPersistent:
      return "persistent";
    case Lifetime::kDynamic:
      return "dynamic:" + life.owner;
    default:
      return "volatile";
  }
}

std::string FormatProviderKey(const std::optional<Guid>& key) { return key ? FormatGuid(*key) : "-"; }

// The fields every kind starts with.
template <class Object>
std::string Head(const char* kind, const Object& object) {
  return std::string(kind) + " " + FormatGuid(object.key) + " " + FormatLife(object.life) + " " +
         FormatFlags(object.flags) + " " + FormatText(object.name) + " " + FormatText(object.description) + " " +
         FormatBytes(object.data);
}

}  // namespace

std::string FormatState(const EngineState& state) {
  std::string out = "wfp-standin-state 1\nids " + std::to_string(state.nextCalloutId) + " " +
                    std::to_string(state.nextFilterId) + "\n";
  for (const auto& [key, provider] : state.providers)
    out += Head("provider", provider) + " " + FormatText(provider.serviceName) + "\n";
  for (const auto& [key, sublayer] : state.sublayers)
    out += Head("sublayer", sublayer) + " " + FormatProviderKey(sublayer.provider) + " " +
           std::to_string(sublayer.weight) + "\n";
  for (const auto& [key, callout] : state.callouts)
    out += Head("callout", callout) + " " + FormatProviderKey(callout.provider) + " " + FormatGuid(callout.layer) +
           " " + std::to_string(callout.id) + "\n";
  for (const auto& [key, filter] : state.filters)
    out += Head("filter", filter) + " " + FormatProviderKey(filter.provider) + " " + FormatGuid(filter.layer) + " " +
           FormatGuid(filter.sublayer) + " " + (filter.weightIsUint8 ? "u8:" : "u64:") + std::to_string(filter.weight) +
           " " + FormatFlags(filter.actionType) + " " + FormatGuid(filter.actionKey) + " " +
           std::to_string(filter.rawContext) + " " + std::to_string(filter.id) + "\n";
  return out + "end\n";
}

// --- reading ------------------------------------------------------------------

namespace {

// A failed line: its text says why.
struct Broken {
  std::string why;
};

template <class Number>
Number Decimal(std::string_view text, Number max, const char* what) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max)
    throw Broken{std::string("bad ") + what};
  return value;
}

std::uint32_t Flags(std::string_view text, const char* what) {
  if (text.size() < 3 || text.size() > 10 || !text.starts_with("0x") || Hex(text, 2, text.size() - 2) < 0)
    throw Broken{std::string("bad ") + what};
  return static_cast<std::uint32_t>(Hex(text, 2, text.size() - 2));
}

Guid Key(std::string_view text, const char* what) {
  const std::optional<Guid> key = ParseGuid(text);
  if (!key) throw Broken{std::string("bad ") + what};
  return *key;
}

std::optional<Guid> ProviderKey(std::string_view text) {
  if (text == "-") return std::nullopt;
  return Key(text, "provider key");
}

Text ReadText(std::string_view text, const char* what) {
  if (text == "-") return std::nullopt;
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') throw Broken{std::string("bad ") + what};
  std::u16string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      const long long unit = i + 5 < text.size() ? Hex(text, i + 1, 4) : -1;
      if (unit < 0) throw Broken{std::string("bad escape in ") + what};
      out.push_back(static_cast<char16_t>(unit));
      i += 4;
    } else if (c > 0x20 && c < 0x7F && c != '"') {
      out.push_back(static_cast<char16_t>(c));
    } else {
      throw Broken{std::string("bad character in ") + what};
    }
  }
  return out;
}

Bytes ReadBytes(std::string_view text) {
  if (text == "-") return {};
  if (text.size() % 2 != 0) throw Broken{"bad data"};
  Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const long long byte = Hex(text, i, 2);
    if (byte < 0) throw Broken{"bad data"};
    bytes.push_back(static_cast<std::uint8_t>(byte));
  }
  return bytes;
}

Lifetime ReadLife(std::string_view text) {
  if (text == "persistent") return {Lifetime::kPersistent, {}};
  if (text == "volatile") return {Lifetime::kVolatile, {}};
  constexpr std::string_view kDynamic = "dynamic:";
  if (!text.starts_with(kDynamic) || text.size() == kDynamic.size()) throw Broken{"bad lifetime"};
  const std::string_view owner = text.substr(kDynamic.size());
  for (const char c : owner)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.'))
      throw Broken{"bad lifetime"};
  return {Lifetime::kDynamic, std::string(owner)};
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  for (const std::string_view field : fields)
    if (field.empty()) throw Broken{"empty field"};
  return fields;
}

// The fields every kind starts with; `count` is the kind's number of fields.
template <class Object>
Object ReadHead(const std::vector<std::string_view>& fields, std::size_t count) {
  if (fields.size() != count) throw Broken{"wrong number of fields"};
  Object object;
  object.key = Key(fields[1], "key");
  object.life = ReadLife(fields[2]);
  const std::uint32_t flags = Flags(fields[3], "flags");
  object.flags = static_cast<decltype(object.flags)>(flags);
  if (object.flags != flags) throw Broken{"bad flags"};
  object.name = ReadText(fields[4], "name");
  object.description = ReadText(fields[5], "description");
  object.data = ReadBytes(fields[6]);
  return object;
}

template <class Map>
void Insert(Map& objects, typename Map::mapped_type object) {
  const Guid key = object.key;
  if (!objects.emplace(key, std::move(object)).second) throw Broken{"key given twice"};
}

// A reference to an object that lies before, may be named and, for a
// provider, exists.
template <class Object, class Target>
void CheckReference(const Object& object, const std::map<Guid, Target>& targets, const Guid& key, const char* what) {
  const auto found = targets.find(key);
  if (found == targets.end()) throw Broken{std::string("unknown ") + what};
  if (!MayReference(object.life, found->second.life)) throw Broken{std::string(what) + " of a shorter lifetime"};
}

template <class Object>
void CheckProvider(const Object& object, const EngineState& state) {
  if (object.provider) CheckReference(object, state.providers, *object.provider, "provider");
}

class Reader {
 public:
  explicit Reader(EngineState& state) : state_(state) {}

  void Object(const std::vector<std::string_view>& fields) {
    const std::string_view kind = fields[0];
    if (kind == "provider") {
      auto provider = ReadHead<Provider>(fields, 8);
      provider.serviceName = ReadText(fields[7], "service name");
      Insert(state_.providers, std::move(provider));
    } else if (kind == "sublayer") {
      auto sublayer = ReadHead<Sublayer>(fields, 9);
      sublayer.provider = ProviderKey(fields[7]);
      sublayer.weight = Decimal<std::uint16_t>(fields[8], 0xFFFF, "weight");
      if (sublayer.key == kUniversalSublayer) throw Broken{"the universal sublayer"};
      CheckProvider(sublayer, state_);
      Insert(state_.sublayers, std::move(sublayer));
    } else if (kind == "callout") {
      auto callout = ReadHead<Callout>(fields, 10);
      callout.provider = ProviderKey(fields[7]);
      callout.layer = Key(fields[8], "layer");
      callout.id = Decimal<std::uint32_t>(fields[9], 0xFFFFFFFF, "id");
      if (!IsKnownLayer(callout.layer)) throw Broken{"unknown layer"};
      if (callout.id == 0 || callout.id >= state_.nextCalloutId || !calloutIds_.insert(callout.id).second)
        throw Broken{"bad id"};
      CheckProvider(callout, state_);
      Insert(state_.callouts, std::move(callout));
    } else if (kind == "filter") {
      Insert(state_.filters, ReadFilter(fields));
    } else {
      throw Broken{"unknown record"};
    }
  }

 private:
  Filter ReadFilter(const std::vector<std::string_view>& fields) {
    auto filter = ReadHead<Filter>(fields, 15);
    filter.provider = ProviderKey(fields[7]);
    filter.layer = Key(fields[8], "layer");
    filter.sublayer = Key(fields[9], "sublayer");
    const std::string_view weight = fields[10];
    filter.weightIsUint8 = weight.starts_with("u8:");
    if (!filter.weightIsUint8 && !weight.starts_with("u64:")) throw Broken{"bad weight"};
    filter.weight = Decimal<std::uint64_t>(weight.substr(filter.weightIsUint8 ? 3 : 4),
                                           filter.weightIsUint8 ? 15 : ~std::uint64_t{0}, "weight");
    filter.actionType = Flags(fields[11], "action");
    filter.actionKey = Key(fields[12], "action key");
    filter.rawContext = Decimal<std::uint64_t>(fields[13], ~std::uint64_t{0}, "context");
    filter.id = Decimal<std::uint64_t>(fields[14], ~std::uint64_t{0}, "id");
    if (!IsKnownLayer(filter.layer)) throw Broken{"unknown layer"};
    if (filter.id == 0 || filter.id >= state_.nextFilterId || !filterIds_.insert(filter.id).second)
      throw Broken{"bad id"};
    CheckProvider(filter, state_);
    if (filter.sublayer != kUniversalSublayer) CheckReference(filter, state_.sublayers, filter.sublayer, "sublayer");
    if (filter.actionType & kActionFlagCallout) {
      CheckReference(filter, state_.callouts, filter.actionKey, "callout");
      if (state_.callouts.at(filter.actionKey).layer != filter.layer) throw Broken{"callout of another layer"};
    }
    return filter;
  }

  EngineState& state_;
  std::set<std::uint32_t> calloutIds_;
  std::set<std::uint64_t> filterIds_;
};

}  // namespace

bool ParseState(std::string_view text, EngineState& state, std::string& error) {
  EngineState read;
  Reader reader(read);
  std::size_t number = 0;
  bool ended = false;
  try {
    while (!text.empty()) {
      ++number;
      const std::size_t newline = text.find('\n');
      if (newline == std::string_view::npos) throw Broken{"no line end"};
      const std::string_view line = text.substr(0, newline);
      text.remove_prefix(newline + 1);
      if (ended) throw Broken{"text after the end"};
      if (number == 1) {
        if (line != "wfp-standin-state 1") throw Broken{"not a state file of version 1"};
        continue;
      }
      const std::vector<std::string_view> fields = Fields(line);
      if (number == 2) {
        if (fields.size() != 3 || fields[0] != "ids") throw Broken{"no ids"};
        read.nextCalloutId = Decimal<std::uint32_t>(fields[1], 0xFFFFFFFF, "next callout id");
        read.nextFilterId = Decimal<std::uint64_t>(fields[2], ~std::uint64_t{0}, "next filter id");
      } else if (line == "end") {
        ended = true;
      } else {
        reader.Object(fields);
      }
    }
    if (!ended) {
      ++number;
      throw Broken{"no end"};
    }
  } catch (const Broken& broken) {
    error = "line " + std::to_string(number) + ": " + broken.why;
    return false;
  }
  state = std::move(read);
  return true;
}

}  // namespace wfpstate
