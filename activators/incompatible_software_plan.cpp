// The pure side of incompatible software: the cleaner's filter names.
#include <array>
#include <string_view>
#include <utility>

#include "activators/incompatible_software.h"

namespace qvr {
namespace {

// The filter names in the order the cleaner receives them.
enum FilterName : unsigned {
  kOds = 1u << 0,
  kAntivirus = 1u << 1,
  kFirewall = 1u << 2,
  kNetwork = 1u << 3,
  kOnlyDetectOds = 1u << 4,
  kOnlyDetectAv = 1u << 5,
  kOnlyDetectFw = 1u << 6,
  kOnlyDetectNet = 1u << 7,
};
constexpr std::array<const wchar_t*, 8> kFilterNames{L"ODS",          L"Antivirus",     L"Firewall",
                                                     L"Network",      L"OnlyDetectODS", L"OnlyDetectAV",
                                                     L"OnlyDetectFW", L"OnlyDetectNet"};
constexpr unsigned kAv = kAntivirus | kOnlyDetectAv;
constexpr unsigned kFw = kFirewall | kOnlyDetectFw;
constexpr unsigned kNet = kNetwork | kOnlyDetectNet;

constexpr std::pair<std::wstring_view, unsigned> kFeatureNames[] = {
    {L"AdFilterFeature", kAv | kNet},   {L"ScanCoreFeature", kOds | kOnlyDetectOds},
    {L"FileShieldFeature", kAv},        {L"PacketWallFeature", kFw | kNet},
    {L"HostGuardFeature", kAv | kFw},   {L"NetIntrusionFeature", kAv | kNet},
    {L"MailShieldFeature", kAv | kNet}, {L"FamilyRulesFeature", kAv | kNet},
    {L"BehaviorMonitorFeature", kAv},   {L"SecureInputFeature", kAv},
    {L"WebShieldFeature", kAv | kNet},
};

}  // namespace

StringVector IncompatibleSoftware::FilterNames(const FeatureMap& features, const std::wstring& type) {
  unsigned added = 0;
  for (const auto& [feature, names] : kFeatureNames) {
    const auto record = features.find(std::wstring(feature));
    if (record != features.end() && Qualifies(record->second, type)) added |= names;
  }
  StringVector names;
  for (std::size_t i = 0; i < kFilterNames.size(); ++i)
    if (added & (1u << i)) names.push_back(kFilterNames[i]);
  return names;
}

}  // namespace qvr
