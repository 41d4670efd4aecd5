#pragma once

class CAsyncSocket;

// A port's server serves one client; at most one more waits to be accepted.
constexpr int ListenBacklog = 1;

// Opens `listener` as the TCP server of a port: every local address of the family (IPv4 for server type
// 0, IPv6 for 1) at `localPort`, one waiting client at most, keep-alive and no-delay. An IPv6 server leaves
// IPv4 to a server of its own on the same port number, and a restarted server does not wait for the
// connections of its previous run to leave TIME_WAIT. Returns 0, or the error code (errno, or a negative
// resolver code) with the listener closed.
int OpenListeningSocket(CAsyncSocket& listener, int localPort, int serverType);
