#pragma once

// The TLS library is set up once when the program starts and released when it ends.
void InitializeTlsLibrary();
void ReleaseTlsLibrary();
