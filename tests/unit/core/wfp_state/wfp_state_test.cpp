#include <gtest/gtest.h>

#include <string>

#include "standins/fwpuclnt/engine_state.h"

namespace {

using namespace wfpstate;

// One object of each kind, with every field form: null and empty texts, escaped units, data, a dynamic owner.
EngineState Sample() {
  EngineState state;
  state.nextCalloutId = 8, state.nextFilterId = 9;
  const Guid provider = *ParseGuid("{0E4F1E0A-0000-4000-8000-000000000001}"), layer = kKnownLayers[12];
  const Lifetime owned{Lifetime::kDynamic, "12.34.5"};
  state.providers[provider] = {provider, {Lifetime::kPersistent, ""}, 1, u"a b%\"\u00e9", std::nullopt, {0, 0xFF}, u""};
  state.sublayers[layer] = {layer, owned, 0xFFFF, u"s", u"d", {}, provider, 65535};
  state.callouts[provider] = {provider, owned, 0x10000, u"c", std::nullopt, {}, std::nullopt, layer, 7};
  state.filters[layer] = {layer, owned, 0x12, u"f",   std::nullopt, {},    provider, layer,
                          layer, true,  15,   0x5003, provider,     ~0ull, 8};
  return state;
}

TEST(WfpState, ReadsWhatItWritesAndRefusesBrokenFiles) {
  const std::string text = FormatState(Sample());
  const char provider[] =
      "\nprovider {0E4F1E0A-0000-4000-8000-000000000001} persistent 0x1 \"a%0020b%0025%0022%00E9\" - ";
  EXPECT_NE(text.find(std::string(provider) + "00FF \"\"\n"), std::string::npos) << text;
  EngineState read;
  std::string error;
  ASSERT_TRUE(ParseState(text, read, error)) << error;
  EXPECT_EQ(read, Sample());
  // Each row breaks the text at one place: the reader refuses it and names the line.
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string changed = text;
    return changed.replace(changed.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> rows[] = {
      {text.substr(0, text.size() - 4), "line 7: no end"},
      {replaced("state 1", "state 2"), "line 1: not a state file of version 1"},
      {replaced(" 0x1 ", " 0x1  "), "line 3: empty field"},
      {replaced("%0020", "%00"), "line 3: bad escape in name"},
      {replaced(" 65535", " 65536"), "line 4: bad weight"},
      {replaced("dynamic:12.34.5 0x12", "volatile 0x12"), "line 6: sublayer of a shorter lifetime"},
      {replaced(" 7\n", " 8\n"), "line 5: bad id"},
      {replaced("u8:15", "u8:16"), "line 6: bad weight"},
      {replaced("sublayer {", "sublayer {0"), "line 4: bad key"},
      {text + "x\n", "line 8: text after the end"},
  };
  for (const auto& [broken, line] : rows)
    EXPECT_FALSE(ParseState(broken, read, error) || error != line) << broken << "\n" << error;
}

}  // namespace
