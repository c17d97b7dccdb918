// Plugin self-registration: the declared registration and unregistration
// command lines, run for the features that qualify for a product type. The
// readers and activators are members of the installer object (installer.h);
// this file holds what they share.
#pragma once

#include <map>
#include <string>

namespace qvr {

// Declaration name (as features list it in Selfregs or SelfUnregs) to the
// full command line, program path and arguments together.
using PluginCommandTable = std::map<std::wstring, std::wstring>;

}  // namespace qvr
