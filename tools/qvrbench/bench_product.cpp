#include "tools/qvrbench/bench_product.h"

#include <windows.h>

#include <fstream>
#include <stdexcept>

#include "platform/util/scoped_reg_key.h"

namespace qvrbench {
namespace {

std::wstring Below(const std::wstring& key) { return std::wstring(kBenchKey) + L"\\" + key; }

std::wstring Numbered(const wchar_t* prefix, int number) {
  wchar_t text[32];
  _snwprintf(text, 32, L"%ls%05d", prefix, number);
  text[31] = L'\0';
  return text;
}

qvr::ScopedRegKey Create(const std::wstring& path) {
  qvr::ScopedRegKey key;
  const LONG created = key.Create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS);
  if (created != ERROR_SUCCESS)
    throw std::runtime_error("cannot create a key of the bench product: " + std::to_string(created));
  return key;
}

void Write(const qvr::ScopedRegKey& key, const std::wstring& name, const std::wstring& text) {
  if (key.WriteString(name.c_str(), text) != ERROR_SUCCESS)
    throw std::runtime_error("cannot write a bench declaration");
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

std::wstring BenchProduct::FeatureName(int feature) { return Numbered(L"Feature", feature); }
std::wstring BenchProduct::FlagKey(int feature) { return Below(Numbered(L"Flags\\K", feature)); }
std::wstring BenchProduct::FlagName(int flag) { return Numbered(L"V", flag); }
std::wstring BenchProduct::ProfilePath(int feature) { return Numbered(L"tasks\\P", feature); }
std::wstring BenchProduct::SchemeName(int handler) { return Numbered(L"qvrbench", handler); }
std::wstring BenchProduct::EnvironmentName(int value) { return Numbered(L"Value", value); }

BenchProduct::BenchProduct(const std::wstring& folder, const BenchScale& scale) : scale_(scale) {
  Remove();
  const qvr::ScopedRegKey environment = Create(Below(L"environment"));
  Write(environment, L"ProductType", L"benchA");
  Write(environment, L"ProductRoot", folder);
  Write(environment, L"ProductVersion", L"21.26.0.0");
  Write(environment, L"ProfilesXmlPath", L"%ProductRoot%\\profiles.xml");
  const qvr::ScopedRegKey profiles = Create(Below(L"Installer\\profiles"));
  const qvr::ScopedRegKey registry = Create(Below(L"Installer\\registry"));
  // The keys that Initialize needs, also when they declare nothing.
  for (const wchar_t* key :
       {L"Installer\\features", L"Installer\\ProtoHandlers", L"Installer\\Selfunregs", L"Installer\\drivers"})
    Create(Below(key));
  std::ofstream xml(Narrow(folder) + "\\profiles.xml");
  xml << "<profiles version=\"1\"><node name=\"tasks\">";
  for (int f = 0; f < scale.features; ++f) {
    const qvr::ScopedRegKey feature = Create(Below(L"Installer\\features\\" + FeatureName(f)));
    Write(feature, L"ProductTypes", f % 2 == 0 ? L"benchA" : L"benchB");
    std::wstring flags;
    for (int v = 0; v < scale.flagsPerFeature; ++v) {
      const std::wstring declaration = FeatureName(f) + L"." + FlagName(v);
      flags += (v ? L" " : L"") + declaration;
      Write(registry, declaration, L"Key=" + FlagKey(f) + L"|Name=" + FlagName(v));
    }
    Write(feature, L"Registry", flags);
    if (!scale.profiles) continue;
    Write(feature, L"Profiles", FeatureName(f));
    Write(profiles, FeatureName(f), ProfilePath(f));
    xml << "<node name=\"" << Narrow(ProfilePath(f).substr(6)) << "\"/>";
  }
  xml << "</node></profiles>\n";
  if (!xml.flush()) throw std::runtime_error("cannot write the bench product's profiles.xml");
  const qvr::ScopedRegKey selfregs = Create(Below(L"Installer\\Selfregs"));
  for (int s = 0; s < scale.selfregs; ++s)
    Write(selfregs, Numbered(L"reg", s), L"C:\\windows\\system32\\cmd.exe /c exit 0");
  for (int h = 0; h < scale.protoHandlers; ++h) {
    const qvr::ScopedRegKey handler = Create(Below(L"Installer\\ProtoHandlers\\" + SchemeName(h)));
    Write(handler, L"Command", L"C:\\bench\\open.exe \"%1\"");
    Write(handler, L"Descr", L"URL:" + SchemeName(h));
  }
  for (const wchar_t* type : {L"benchA", L"benchB"}) {
    const qvr::ScopedRegKey values = Create(Below(std::wstring(L"Installer\\environment\\") + type));
    for (int v = 0; v < scale.environmentValues; ++v) Write(values, EnvironmentName(v), type);
  }
}

BenchProduct::~BenchProduct() { Remove(); }

void BenchProduct::Remove() const {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBenchKey);
  for (int h = 0; h < scale_.protoHandlers; ++h) RegDeleteTreeW(HKEY_CLASSES_ROOT, SchemeName(h).c_str());
}

}  // namespace qvrbench
