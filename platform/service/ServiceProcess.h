#pragma once
// Spawning a service's program, detached from whoever started it.

#include "platform/kernel/Types.h"

#include <string>
#include <utility>
#include <vector>

// Starts `program` with no arguments (argv[0] is the program's path) as a daemon: in a session
// of its own, re-parented to init, standard streams on /dev/null, current folder "/", signal
// dispositions and mask at their defaults, and no descriptor of the caller except
// `endpointFd` and `startFd`, which it finds as descriptors 3 and 4. Its environment is the
// caller's with `environment` added (replacing variables of the same names).
//
// Returns once the program has been handed to exec; a failing exec is reported by the program
// on `startFd` (a kStartExecFailed message), not here. Errors: the classic numbers.
DWORD SpawnDetachedProgram(const std::string& program, int endpointFd, int startFd,
                           const std::vector<std::pair<std::string, std::string>>& environment);
