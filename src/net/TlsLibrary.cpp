#include "TlsLibrary.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

void InitializeTlsLibrary() {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
}

void ReleaseTlsLibrary() {
    // After this the library cannot be used again in this process: call it only on the way out.
    OPENSSL_cleanup();
}
