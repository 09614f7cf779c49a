#pragma once
// Ending the connections of requests the program has given up on. Closing a WinINet handle does not
// end the work under way on it: under Wine the library goes on reading an answer's headers (for as
// long as a server sends header lines, storing every one: hundreds of MiB within a minute), or
// draining its body, on a thread of its own until the server stops. Shutting the socket down ends
// that work at its next read, and the memory it held is freed. The program runs one transfer at a
// time and has no other TCP connection, so every connected socket of the process is one to end.

namespace lumoradex {

void StopOwnConnections() noexcept;

} // namespace lumoradex
