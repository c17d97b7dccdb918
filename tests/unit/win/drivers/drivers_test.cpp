// Driver services and the filtering driver's WFP objects: the drivers key read by Initialize, services of Wine's
// service manager brought into their declared start types, and the product's objects in the filtering-engine
// stand-in, counted by wfpstate.exe from another process.
#include "activators/drivers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Custom_Actions/qvrinst/installer.h"
#include "component/oxa/system/unique_handle.h"
#include "drivers/wfp_manager.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_product.h"
#include "tests/support/wfp_state_tool.h"

namespace {

using qvrtest::ProductWfpObjects;
using qvrtest::RecordingSink;
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAre;

constexpr char kNoObjects[] = "0 0\n";
constexpr char kAllObjects[] = "0 38\n";
constexpr DWORD kKernelDriverStartFailure = ERROR_DLL_INIT_FAILED;  // Wine never loads the .sys

// A kernel-driver service of the test, on demand, deleted when the test ends.
class ScopedDriverService {
 public:
  explicit ScopedDriverService(const std::wstring& name) : name_(name) {
    Delete();
    const oxa::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const oxa::ServiceHandle service(CreateServiceW(manager.Get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                    SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                                    (L"C:\\windows\\system32\\drivers\\" + name + L".sys").c_str(),
                                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(service) << "CreateServiceW " << GetLastError();
  }
  ~ScopedDriverService() { Delete(); }
  ScopedDriverService(const ScopedDriverService&) = delete;
  ScopedDriverService& operator=(const ScopedDriverService&) = delete;

 private:
  void Delete() {
    const oxa::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const oxa::ServiceHandle service(OpenServiceW(manager.Get(), name_.c_str(), DELETE));
    if (service) DeleteService(service.Get());
  }
  std::wstring name_;
};

// The start type the service manager holds for `name`.
std::optional<DWORD> StartType(const std::wstring& name) {
  const oxa::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const oxa::ServiceHandle service(OpenServiceW(manager.Get(), name.c_str(), SERVICE_QUERY_CONFIG));
  union {
    QUERY_SERVICE_CONFIGW config;
    BYTE bytes[8192];
  } buffer;
  DWORD needed = 0;
  if (!QueryServiceConfigW(service.Get(), &buffer.config, sizeof buffer, &needed)) return std::nullopt;
  return buffer.config.dwStartType;
}

// The declaration keys and the environment key, so that only the drivers' lines are errors.
void CreateProductKeys(TestProduct& product) {
  product.CreateDeclarationKeys();
  product.CreateKey(L"environment");
}

std::wstring Hex8(DWORD code) {
  wchar_t text[11];
  swprintf(text, 11, L"0x%08X", static_cast<unsigned>(code));
  return text;
}

// A value of the default (unnamed) name, short and long texts and a DWORD: only the named DWORD is a driver; the
// enumeration goes on after each bad value (Wine enumerates values by name, not in the order of their creation).
// Without the key the table stays empty and Initialize succeeds.
TEST(Drivers, ReadDriversTakesNamedDwordValues) {
  for (const bool declared : {true, false}) {
    TestProduct product(TestName());
    CreateProductKeys(product);
    if (declared) {
      product.SetDword(L"Installer\\drivers", nullptr, 3);
      product.SetString(L"Installer\\drivers", L"short", L"a");  // four bytes with its terminator
      product.SetString(L"Installer\\drivers", L"long", L"ab");
      product.SetDword(L"Installer\\drivers", L"vxwfp", 1);
    } else {
      ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, product.KeyOf(L"Installer\\drivers").c_str()), ERROR_SUCCESS);
    }
    RecordingSink sink;
    qvr::Installer installer;
    ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
    if (declared) {
      EXPECT_THAT(sink.Texts(qvr::kLogError), UnorderedElementsAre(L"ReadDrivers: can't query value short: 0x0000000d",
                                                                   L"ReadDrivers: can't query value long: 0x000000ea"));
      EXPECT_TRUE(sink.Has(L"ReadDrivers: drivers vxwfp = 1"));
      EXPECT_EQ(installer.Drivers().Table(), (qvr::DriverTable{{L"vxwfp", 1}}));
    } else {
      EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ReadDrivers: can't open drivers key: 0x2"));
      EXPECT_THAT(installer.Drivers().Table(), IsEmpty());
    }
  }
}

// The drivers of installed features whose types hold the product type exactly, in the services' own state:
// enabled with their declared start types and started (which fails under Wine), then disabled; an undeclared name
// is never touched, a declared service that does not exist fails alone.
TEST(Drivers, EnableAndDisableQualifyingDrivers) {
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  const std::wstring a = L"qvrta" + tag, b = L"qvrtb" + tag, undeclared = L"qvrtu" + tag, absent = L"qvrtx" + tag;
  const ScopedDriverService services[] = {ScopedDriverService(a), ScopedDriverService(b),
                                          ScopedDriverService(undeclared)};
  TestProduct product(TestName());
  CreateProductKeys(product);
  product.SetDword(L"Installer\\drivers", a.c_str(), SERVICE_SYSTEM_START);
  product.SetDword(L"Installer\\drivers", b.c_str(), SERVICE_AUTO_START);
  product.SetDword(L"Installer\\drivers", absent.c_str(), SERVICE_AUTO_START);
  const struct {
    const wchar_t* name;
    const wchar_t* types;
    bool installed;
    std::wstring drivers;
  } features[] = {
      {L"F1", L"pc kis", true, absent + L" " + a + L" " + undeclared},
      {L"F2", L"KIS", true, b},  // a type in another case
      {L"F3", L"kis", false, b},
  };
  for (const auto& f : features) {
    product.AddFeature(f.name, f.types, f.installed);
    product.SetString(std::wstring(L"Installer\\features\\") + f.name, L"Drivers", f.drivers);
  }
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));

  sink.lines.clear();
  EXPECT_TRUE(installer.EnableDrivers(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"ChangeDriverConfigImpl: OpenServiceW failed: " + Hex8(ERROR_SERVICE_DOES_NOT_EXIST),
                          L"EnableDrivers: enabling " + absent + L" failed",
                          L"StartDriver: StartService(" + a + L") failed: " + Hex8(kKernelDriverStartFailure),
                          L"EnableDrivers: starting " + a + L" failed"));
  EXPECT_TRUE(sink.Has(L"EnableDrivers: enabling " + a + L" requested by feature F1"));
  EXPECT_EQ(StartType(a), DWORD(SERVICE_SYSTEM_START));
  EXPECT_EQ(StartType(b), DWORD(SERVICE_DEMAND_START));
  EXPECT_EQ(StartType(undeclared), DWORD(SERVICE_DEMAND_START));

  // A failed change of the start type is a detail of the disabling, and the parameters go all the same.
  sink.lines.clear();
  EXPECT_TRUE(installer.DisableDrivers(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"ChangeDriverConfigImpl: OpenServiceW failed: " + Hex8(ERROR_SERVICE_DOES_NOT_EXIST)));
  EXPECT_TRUE(sink.Has(L"DisableDrivers: disable " + absent + L" failed"));
  EXPECT_EQ(std::count(sink.lines.begin(), sink.lines.end(),
                       qvrtest::SinkLine{qvr::kLogInfo, L"SetDriverParameters:entry point"}),
            2);
  EXPECT_EQ(StartType(a), DWORD(SERVICE_DISABLED));
  EXPECT_EQ(StartType(b), DWORD(SERVICE_DEMAND_START));
}

// Starting a service that runs already is a failure (Wine's PlugPlay runs from the prefix's boot; its start type
// is declared as it is).
TEST(Drivers, StartingARunningServiceFails) {
  TestProduct product(TestName());
  CreateProductKeys(product);
  product.SetDword(L"Installer\\drivers", L"PlugPlay", SERVICE_AUTO_START);
  product.AddFeature(L"F", L"kis");
  product.SetString(L"Installer\\features\\F", L"Drivers", L"PlugPlay");
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();
  EXPECT_TRUE(installer.EnableDrivers(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"StartDriver: StartService(PlugPlay) failed: " + Hex8(ERROR_SERVICE_ALREADY_RUNNING),
                          L"EnableDrivers: starting PlugPlay failed"));
}

// vxwfp's parameters are its WFP objects, except for small-office versions up to 6.2 (or no data key) and a name
// in another case.
TEST(Drivers, FilteringDriverParameters) {
  const std::uint64_t v62 = 0x0006020000000000, v63 = 0x0006030000000000;
  const struct {
    std::optional<std::uint64_t> version;  // of inmobver, when there is one
    bool dataKey;
    const wchar_t* name;
    const char* objects;
  } cases[] = {
      {v63, true, L"vxwfp", kAllObjects}, {std::nullopt, true, L"vxwfp", kAllObjects},
      {v62, true, L"vxwfp", kNoObjects},  {std::nullopt, false, L"vxwfp", kNoObjects},
      {v63, true, L"VXWFP", kNoObjects},
  };
  ASSERT_EQ(wfpmgr::WfpMgrRemoveByEnumerate(), 0u);
  const ScopedDriverService service(L"vxwfp");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.version.value_or(0) << " " << c.dataKey);
    TestProduct product(TestName());
    CreateProductKeys(product);
    if (c.dataKey) product.CreateKey(L"data");
    if (c.version) product.SetQword(L"data", L"inmobver", *c.version);
    product.SetDword(L"Installer\\drivers", c.name, SERVICE_BOOT_START);
    product.AddFeature(L"Wall", L"kis");
    product.SetString(L"Installer\\features\\Wall", L"Drivers", c.name);
    RecordingSink sink;
    qvr::Installer installer;
    ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_TRUE(installer.EnableDrivers(L"kis"));
    EXPECT_EQ(StartType(L"vxwfp"), DWORD(SERVICE_BOOT_START));
    EXPECT_EQ(ProductWfpObjects(), c.objects);
    EXPECT_EQ(sink.Has(L"SetVxwfpParameters: entry point"), c.objects == kAllObjects);
    EXPECT_TRUE(installer.DisableDrivers(L"kis"));
    EXPECT_EQ(StartType(L"vxwfp"), DWORD(SERVICE_DISABLED));
    EXPECT_EQ(ProductWfpObjects(), kNoObjects);
    EXPECT_EQ(sink.Texts(qvr::kLogError).size(), 2u) << "the failed start's two lines";
  }
}

class WfpObjects : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(wfpmgr::WfpMgrRemoveByEnumerate(), 0u); }
  void TearDown() override {
    SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", nullptr);
    wfpmgr::WfpMgrRemoveByEnumerate();
  }
  RecordingSink sink;
};

// Objects registered already make the first run fail at the provider and leave them in place; the repair removes
// them and registers them again. Removal takes every object of the provider and none of another provider's.
TEST_F(WfpObjects, RegisterRepairAndRemove) {
  ASSERT_EQ(qvrtest::RunWfpState("add-foreign"), "0 ");
  ASSERT_EQ(wfpmgr::WfpmgrInstallEx2(), 0u);
  EXPECT_EQ(ProductWfpObjects(), kAllObjects);
  EXPECT_EQ(wfpmgr::WfpmgrInstallEx2(), DWORD(FWP_E_ALREADY_EXISTS));
  EXPECT_EQ(ProductWfpObjects(), kAllObjects);

  EXPECT_TRUE(qvr::SetVxwfpParameters(&sink));
  EXPECT_THAT(sink.lines,
              ElementsAre(qvrtest::SinkLine{qvr::kLogInfo, L"SetVxwfpParameters: entry point"},
                          qvrtest::SinkLine{qvr::kLogError,
                                            L"SetVxwfpParameters: WfpmgrInstallEx2 first run failed, "
                                            L"err: 0x80320009"},
                          qvrtest::SinkLine{qvr::kLogError, L"SetVxwfpParameters: WfpMgrRemoveByEnumerate, err: 0x0"}));
  EXPECT_EQ(ProductWfpObjects(), kAllObjects);

  EXPECT_TRUE(qvr::RemoveVxwfpParameters(&sink));
  EXPECT_EQ(ProductWfpObjects(), kNoObjects);
  const std::string foreign = qvrtest::RunWfpState("list");
  EXPECT_EQ(qvrtest::RunWfpState("count --provider {0E4F1E0A-0000-4000-8000-000000000001}"), "0 2\n");
  EXPECT_EQ(std::count(foreign.begin(), foreign.end(), '\n'), 3) << foreign;  // and the filter of no provider
  EXPECT_EQ(qvrtest::RunWfpState("clear"), "0 ");
  EXPECT_EQ(wfpmgr::WfpMgrRemoveByEnumerate(), 0u) << "nothing to remove is no failure";
}

// A failure at any call of the registration, the commit included, is that call's code and leaves nothing.
TEST_F(WfpObjects, AFailedCallLeavesNothingRegistered) {
  std::vector<std::wstring> calls = {L"FwpmEngineOpen0:1", L"FwpmTransactionBegin0:1", L"FwpmProviderAdd0:1",
                                     L"FwpmSubLayerAdd0:1"};
  for (int n = 1; n <= 18; ++n) calls.push_back(L"FwpmCalloutAdd0:" + std::to_wstring(n));
  for (int n = 1; n <= 18; ++n) calls.push_back(L"FwpmFilterAdd0:" + std::to_wstring(n));
  calls.push_back(L"FwpmTransactionCommit0:1");
  DWORD code = 0x80320100;
  for (const std::wstring& call : calls) {
    SCOPED_TRACE(testing::Message() << std::string(call.begin(), call.end()));
    SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", (call + L":" + std::to_wstring(++code)).c_str());
    EXPECT_EQ(wfpmgr::WfpmgrInstallEx2(), code);
    EXPECT_EQ(ProductWfpObjects(), kNoObjects);
  }
}

// A second failed run ends the repair; an engine that cannot be opened fails the removal with its code.
TEST_F(WfpObjects, FailuresOfTheInstallerOperations) {
  SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", L"FwpmProviderAdd0:1:0x80320009;FwpmSubLayerAdd0:1:0x80320017");
  EXPECT_FALSE(qvr::SetVxwfpParameters(&sink));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"SetVxwfpParameters: WfpmgrInstallEx2 first run failed, err: 0x80320009",
                          L"SetVxwfpParameters: WfpMgrRemoveByEnumerate, err: 0x0",
                          L"SetVxwfpParameters: WfpmgrInstallEx2 first run failed, err: 0x80320017"));
  EXPECT_EQ(ProductWfpObjects(), kNoObjects);

  sink.lines.clear();
  SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", L"FwpmEngineOpen0:1:1753");
  EXPECT_FALSE(qvr::SetDriverParameters(&sink, L"vxwfp", false, true));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"RemoveVxwfpParameters: WfpMgrRemoveByEnumerate failed, err: 0x6D9",
                          L"SetDriverParameters: removing vxwfp params failed"));
}

}  // namespace
