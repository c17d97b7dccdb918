// The filtering-engine stand-in (bin/standins/fwpuclnt.dll, loaded by its path) and wfpstate.exe, which sees the
// engine from another process. A test's keys hold its process id; it deletes its objects before and after.
#include <gtest/gtest.h>
#include <windows.h>
// fwpmu.h needs the Windows types.
#include <fwpmu.h>

#include <functional>
#include <string>
#include <vector>

#include "component/oxa/system/unique_handle.h"
#include "standins/fwpuclnt/fwp_values.h"
#include "tests/support/msi_session.h"
#include "tests/support/wfp_state_tool.h"

// The API's structures are filled in part, as callers fill them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using qvrtest::RunWfpState;

HMODULE StandIn() {
  static const oxa::ModuleHandle module(LoadLibraryW(qvrtest::BuildPath(L"bin/standins/fwpuclnt.dll").c_str()));
  return module.Get();
}
#define FWP(name) (reinterpret_cast<decltype(&::name)>(reinterpret_cast<void (*)()>(GetProcAddress(StandIn(), #name))))

void CloseEngine(HANDLE engine) noexcept { FWP(FwpmEngineClose0)(engine); }
using Engine = oxa::UniqueHandle<oxa::HandleTraits<HANDLE, &CloseEngine>>;
Engine Open() {
  Engine engine;
  EXPECT_EQ(FWP(FwpmEngineOpen0)(nullptr, RPC_C_AUTHN_WINNT, nullptr, nullptr, engine.Receive()), 0u);
  return engine;
}

constexpr GUID kStream4 = {0x3B89653C, 0xC170, 0x49E4, {0xB1, 0xCD, 0xE0, 0xEE, 0xEE, 0xE1, 0x9A, 0x3E}};
constexpr GUID kStream6 = {0x47C9137A, 0x7EC4, 0x46B3, {0xB6, 0xE4, 0x48, 0xE9, 0x26, 0xB1, 0xED, 0xA4}};
GUID Key(UINT8 kind, DWORD first = GetCurrentProcessId()) { return {first, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, kind}}; }
std::string Text(const GUID& key) { return wfpstate::FormatGuid(wfpstandin::FromGuid(key)); }
wchar_t* Name(const wchar_t* name) { return const_cast<wchar_t*>(name); }

// The names that one enumeration call of `chunk` entries gives for `enumTemplate`; the memory freed as one.
using Names = std::vector<std::wstring>;
Names Callouts(HANDLE engine, const FWPM_CALLOUT_ENUM_TEMPLATE0& enumTemplate, UINT32 chunk = 0xFFFFFFFF) {
  HANDLE handle = nullptr;
  FWPM_CALLOUT0** entries = nullptr;
  UINT32 count = 0;
  EXPECT_EQ(FWP(FwpmCalloutCreateEnumHandle0)(engine, &enumTemplate, &handle), 0u);
  EXPECT_EQ(FWP(FwpmCalloutEnum0)(engine, handle, chunk, &entries, &count), 0u);
  Names names;
  for (UINT32 i = 0; i < count; ++i) names.emplace_back(entries[i]->displayData.name);
  FWP(FwpmFreeMemory0)(reinterpret_cast<void**>(&entries));
  EXPECT_EQ(entries, nullptr);
  EXPECT_EQ(FWP(FwpmCalloutDestroyEnumHandle0)(engine, handle), 0u);
  EXPECT_EQ(FWP(FwpmCalloutDestroyEnumHandle0)(engine, handle), DWORD(ERROR_INVALID_HANDLE));
  return names;
}

class WfpStandIn : public testing::Test {
 protected:
  void SetUp() override {
    filter_.weight = {FWP_UINT8, {.uint8 = 3}};
    filter_.action = {FWP_ACTION_CALLOUT_TERMINATING, {callout_.calloutKey}};
    Remove();
  }
  void TearDown() override { Remove(); }
  void Remove() {
    FWP(FwpmTransactionAbort0)(engine_.Get());  // of a test that stopped inside one
    FWP(FwpmFilterDeleteByKey0)(engine_.Get(), &filter_.filterKey);
    for (const GUID& key : {callout_.calloutKey, other_}) FWP(FwpmCalloutDeleteByKey0)(engine_.Get(), &key);
    FWP(FwpmSubLayerDeleteByKey0)(engine_.Get(), &sublayer_.subLayerKey);
    for (const GUID& key : {provider_.providerKey, other_}) FWP(FwpmProviderDeleteByKey0)(engine_.Get(), &key);
  }
  // The persistent provider, sublayer, callout (STREAM_V4) and boot-time filter: the first failure's code.
  DWORD Add() {
    UINT32 calloutId = 0;
    UINT64 filterId = 0;
    DWORD result = FWP(FwpmProviderAdd0)(engine_.Get(), &provider_, nullptr);
    if (!result) result = FWP(FwpmSubLayerAdd0)(engine_.Get(), &sublayer_, nullptr);
    if (!result) result = FWP(FwpmCalloutAdd0)(engine_.Get(), &callout_, nullptr, &calloutId);
    if (!result) result = FWP(FwpmFilterAdd0)(engine_.Get(), &filter_, nullptr, &filterId);
    return result || (calloutId && filterId) ? result : ERROR_INVALID_DATA;  // the engine gives ids
  }

  Engine engine_ = Open();
  GUID other_ = Key(5);
  wchar_t calloutName_[8] = L"callout";
  FWPM_PROVIDER0 provider_{Key(1), {Name(L"Test provider")}, wfpstandin::kProviderFlagPersistent};
  FWPM_SUBLAYER0 sublayer_{Key(2), {Name(L"Test sublayer")}, 1, &provider_.providerKey, {}, 7};
  FWPM_CALLOUT0 callout_{Key(3), {calloutName_}, 0x10000, &provider_.providerKey, {}, kStream4};
  FWPM_FILTER0 filter_{Key(4), {Name(L"Test filter")}, 0x12, &provider_.providerKey, {}, kStream4, Key(2)};
  const FWPM_CALLOUT_ENUM_TEMPLATE0 ofProvider_{&provider_.providerKey};
};

// Another process sees a transaction's objects at its commit only.
TEST_F(WfpStandIn, TransactionsAreAllOrNothingAndPersist) {
  ASSERT_EQ(FWP(FwpmTransactionBegin0)(engine_.Get(), 0), 0u);
  EXPECT_EQ(FWP(FwpmTransactionBegin0)(engine_.Get(), 0), DWORD(FWP_E_TXN_IN_PROGRESS));
  ASSERT_EQ(Add(), 0u);
  EXPECT_EQ(Callouts(engine_.Get(), ofProvider_), Names{L"callout"});  // its own changes, and only its own
  EXPECT_EQ(Callouts(Open().Get(), ofProvider_), Names{});
  EXPECT_EQ(FWP(FwpmTransactionAbort0)(engine_.Get()), 0u);
  EXPECT_EQ(FWP(FwpmTransactionCommit0)(engine_.Get()), DWORD(FWP_E_NO_TXN_IN_PROGRESS));
  EXPECT_EQ(RunWfpState("count --provider " + Text(provider_.providerKey)), "0 0\n");
  ASSERT_EQ(FWP(FwpmTransactionBegin0)(engine_.Get(), 0), 0u);
  ASSERT_EQ(Add(), 0u);
  EXPECT_EQ(FWP(FwpmTransactionCommit0)(engine_.Get()), 0u);
  const std::string p = Text(provider_.providerKey), s = Text(sublayer_.subLayerKey), c = Text(callout_.calloutKey);
  const std::string in = " provider=" + p + " layer=" + Text(kStream4);
  std::string listed = "0 provider " + p + " name=\"Test provider\" description=\"\" flags=0x1\n";
  listed += "sublayer " + s + " name=\"Test sublayer\" description=\"\" flags=0x1 provider=" + p + " weight=7\n";
  listed +=
      "callout " + c + " name=\"callout\" description=\"\" flags=0x10000" + in + "\nfilter " + Text(filter_.filterKey);
  listed += " name=\"Test filter\" description=\"\" flags=0x12" + in + " sublayer=" + s +
            " weight=u8:3 action=0x5003 callout=" + c;
  EXPECT_EQ(RunWfpState("list --provider " + p), listed + "\n");
}

TEST_F(WfpStandIn, EnumerationTemplatesOverCopies) {
  ASSERT_EQ(Add(), 0u);
  calloutName_[0] = L'X';
  FWPM_CALLOUT0 second = callout_;
  second.calloutKey = other_;
  second.displayData.name = Name(L"second");
  second.applicableLayer = kStream6;
  ASSERT_EQ(FWP(FwpmCalloutAdd0)(engine_.Get(), &second, nullptr, nullptr), 0u);
  EXPECT_EQ(Callouts(engine_.Get(), ofProvider_), (Names{L"callout", L"second"}));
  EXPECT_EQ(Callouts(engine_.Get(), ofProvider_, 1), Names{L"callout"});
  EXPECT_EQ(Callouts(engine_.Get(), {&provider_.providerKey, kStream6}), Names{L"second"});
  EXPECT_EQ(Callouts(engine_.Get(), {&other_}), Names{});
}

TEST_F(WfpStandIn, ReferencesAndObjectsInUse) {
  ASSERT_EQ(Add(), 0u);  // each call a transaction of its own
  const HANDLE e = engine_.Get();
  FWPM_SUBLAYER0 sublayer = sublayer_;
  sublayer.subLayerKey = *(sublayer.providerKey = &other_);
  FWPM_FILTER0 inSublayer = filter_, ofCallout = filter_, inLayer = filter_;
  inSublayer.filterKey = ofCallout.filterKey = inLayer.filterKey = inSublayer.subLayerKey = other_;
  ofCallout.action.calloutKey = other_;
  inLayer.layerKey = kStream6;
  const std::pair<std::function<DWORD()>, HRESULT> rows[] = {
      {[&] { return FWP(FwpmSubLayerAdd0)(e, &sublayer, nullptr); }, FWP_E_PROVIDER_NOT_FOUND},
      {[&] { return FWP(FwpmFilterAdd0)(e, &inSublayer, nullptr, nullptr); }, FWP_E_SUBLAYER_NOT_FOUND},
      {[&] { return FWP(FwpmFilterAdd0)(e, &ofCallout, nullptr, nullptr); }, FWP_E_CALLOUT_NOT_FOUND},
      {[&] { return FWP(FwpmFilterAdd0)(e, &inLayer, nullptr, nullptr); }, FWP_E_INCOMPATIBLE_LAYER},
      {[&] { return FWP(FwpmFilterAdd0)(e, &filter_, nullptr, nullptr); }, FWP_E_ALREADY_EXISTS},
      {[&] { return FWP(FwpmProviderDeleteByKey0)(e, &provider_.providerKey); }, FWP_E_IN_USE},
      {[&] { return FWP(FwpmSubLayerDeleteByKey0)(e, &sublayer_.subLayerKey); }, FWP_E_IN_USE},
      {[&] { return FWP(FwpmCalloutDeleteByKey0)(e, &callout_.calloutKey); }, FWP_E_IN_USE},
      {[&] { return FWP(FwpmFilterDeleteByKey0)(e, &other_); }, FWP_E_FILTER_NOT_FOUND},
      {[&] { return FWP(FwpmFilterDeleteByKey0)(e, &filter_.filterKey); }, S_OK},  // then each goes in turn
      {[&] { return FWP(FwpmCalloutDeleteByKey0)(e, &callout_.calloutKey); }, S_OK},
      {[&] { return FWP(FwpmSubLayerDeleteByKey0)(e, &sublayer_.subLayerKey); }, S_OK},
      {[&] { return FWP(FwpmProviderDeleteByKey0)(e, &provider_.providerKey); }, S_OK},
  };
  for (const auto& [call, code] : rows) EXPECT_EQ(call(), DWORD(code)) << "row " << &call - &rows[0].first;
}

// Only this test adds wfpstate's foreign objects.
TEST_F(WfpStandIn, FaultsFailTheirCallAndLeaveNothing) {
  const GUID foreign[] = {Key(2, 0x0E4F1E0A), Key(3, 0x0E4F1E0A), Key(1, 0x0E4F1E0A)};
  const auto remove = [&] {
    for (const GUID& key : foreign) FWP(FwpmFilterDeleteByKey0)(engine_.Get(), &key);
    FWP(FwpmProviderDeleteByKey0)(engine_.Get(), &foreign[2]);
  };
  remove();
  const std::string count = "count --provider " + Text(foreign[2]);
  EXPECT_EQ(RunWfpState(count, L"FwpmEngineOpen0:1:1753"),
            "1 wfpstate: FwpmEngineOpen0 failed with error code 0x6D9\n");
  EXPECT_EQ(RunWfpState("add-foreign", L"FwpmFilterAdd0:2:0x80320009"),
            "1 wfpstate: FwpmFilterAdd0 failed with error code 0x80320009\n");
  EXPECT_EQ(RunWfpState(count), "0 0\n");
  EXPECT_EQ(RunWfpState("add-foreign"), "0 ");
  EXPECT_EQ(RunWfpState(count), "0 2\n");
  remove();
}

}  // namespace
