#pragma once

class CAsyncSocket;

// The options every TCP socket of a link gets: keep-alive that notices a dead peer after 10 s of silence,
// probing every second, and no Nagle delay. Failures are ignored: a link without them still works.
void SetStreamSocketOptions(CAsyncSocket& socket);
