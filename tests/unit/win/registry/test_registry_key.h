// The registry fixtures of the tests are in tests/support/registry_guards.h.
#pragma once

#include "tests/support/registry_guards.h"

namespace qvr::test {
using qvrtest::TestRegistryKey;
}  // namespace qvr::test
