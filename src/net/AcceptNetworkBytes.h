#pragma once

class CVSPDataBasic;

// Whether bytes read from a port's link may be queued for its virtual port: an application holds the
// port open (no bypass), or the bypass partner's link is up to carry them on.
bool AcceptNetworkBytes(const CVSPDataBasic& port);
