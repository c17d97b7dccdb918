// The declarations that qvrbench measures the module on, below
// HKLM\Software\QvrTest\bench.product, with the product's files in the bench folder:
// features of two product types (benchA, benchB), each with its registry
// flags in a key of its own and its task profile, self-registrations that no
// feature names (read, never run), protocol handlers and the types'
// environment values. Removed again, with the protocol keys, when it goes.
#pragma once

#include <string>

namespace qvrbench {

inline constexpr wchar_t kBenchKey[] = L"Software\\QvrTest\\bench.product";

struct BenchScale {
  int features = 1000;
  int flagsPerFeature = 5;
  bool profiles = true;  // one per feature
  int selfregs = 200;
  int protoHandlers = 100;
  int environmentValues = 5;  // of each type
};

class BenchProduct {
 public:
  // `folder`: the bench folder (Windows path), which holds product_info.dll
  // and gets the product's profiles.xml.
  BenchProduct(const std::wstring& folder, const BenchScale& scale);
  ~BenchProduct();
  BenchProduct(const BenchProduct&) = delete;
  BenchProduct& operator=(const BenchProduct&) = delete;

  static std::wstring FeatureName(int feature);
  static std::wstring FlagKey(int feature);  // below HKLM
  static std::wstring FlagName(int flag);
  static std::wstring ProfilePath(int feature);
  static std::wstring SchemeName(int handler);
  static std::wstring EnvironmentName(int value);

  const BenchScale& Scale() const { return scale_; }

 private:
  void Remove() const;

  BenchScale scale_;
};

}  // namespace qvrbench
