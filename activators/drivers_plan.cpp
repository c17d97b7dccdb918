// The pure side of the driver services: which drivers a product type enables.
#include "activators/drivers.h"

namespace qvr {

Requests DriverServices::Plan(const DriverTable& drivers, const FeatureMap& features, const std::wstring& type) {
  return RequestsFor(features, type, &FeatureRecord::drivers, drivers);
}

}  // namespace qvr
