#pragma once
// Relaying between the two sockets of a session, on the session's thread: the blind relay of
// the POP3 and Telnet proxies once both ends are joined.

#include <cstddef>

class X1Socket;

// Moves at most `size` of the bytes waiting on `from` to `to` (a blocking send). Returns the
// count moved; 0 when nothing waited. Socket failures throw X1SocketException.
int RelayWaiting(X1Socket& from, X1Socket& to, std::size_t size);

// Moves everything `from` still holds to `to`, `size` bytes at a time: what a side sent before
// it closed reaches the other side before that one is closed too.
void RelayRemaining(X1Socket& from, X1Socket& to, std::size_t size);
