#pragma once

#include <openssl/types.h>

class CVSPLog;

// A client context: the server's certificate is never verified (our peers are converters with
// self-signed certificates). Null only when the library is out of memory.
SSL_CTX* NewClientTlsContext();

// A server context built from "dh1024.pem", "server.pem" (certificate and key; the key protected by the
// server password) and "root.pem" in the working directory, read anew for every accepted client. Each
// file that cannot be used is logged to the port's system log and set-up goes on; a handshake that needs
// what is missing then fails. Null only when the library is out of memory.
SSL_CTX* NewServerTlsContext(CVSPLog& portLog);
