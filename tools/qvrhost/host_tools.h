// The setup engineers' tools of qvrhost: lint and plan read the declarations
// with the module's own readers (linked, not loaded: they must see exactly
// what Initialize sees and write nothing); explain reads an installer log.
#pragma once

#include "tools/qvrhost/host_command_line.h"

namespace qvrhost {

// Each returns the program's exit code.
int RunLint(const HostCommand& command);
int RunPlan(const HostCommand& command);
int RunExplain(const HostCommand& command);

}  // namespace qvrhost
