#pragma once
// Readying the process for sockets: what the engine does before it serves anything.

// Ignores SIGPIPE process-wide (a peer that goes away must give an error, not end the
// process) and checks that this process may create sockets at all. False when it may not.
bool SocketStartup();
