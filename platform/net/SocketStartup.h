#pragma once
// Readying the process for sockets: what the engine does before it serves anything.

#include <cstddef>

// Ignores SIGPIPE process-wide (a peer that goes away must give an error, not end the
// process), raises the process's soft limit on open descriptors to its hard limit (every
// connection and every mapped client holds a socket, and nothing here uses select, so more
// than 1024 are fine), and checks that this process may create sockets at all. False when it
// may not.
bool SocketStartup();

// The process's soft limit on open descriptors (what SocketStartup left it at).
std::size_t DescriptorLimit();
