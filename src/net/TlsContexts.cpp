#include "TlsContexts.h"

#include "CVSPLog.h"

#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

constexpr char ServerKeyPassword[] = "qembrutz";
constexpr char DhParametersFile[] = "dh1024.pem";
constexpr char ServerCertificateFile[] = "server.pem";
constexpr char TrustedCertificatesFile[] = "root.pem";

int ServerKeyPasswordCallback(char* buffer, int size, int, void* userData) {
    const char* password = static_cast<const char*>(userData);
    const int length = static_cast<int>(std::strlen(password));
    if (size < length + 1)
        return 0;
    std::memcpy(buffer, password, static_cast<std::size_t>(length) + 1);
    return length;
}

void LoadDhParameters(SSL_CTX* context, CVSPLog& portLog) {
    BIO* file = BIO_new_file(DhParametersFile, "r");
    if (file == nullptr) {
        portLog.WriteSystemText("Couldn't open DH file\r\n");
        return;
    }
    EVP_PKEY* parameters = PEM_read_bio_Parameters(file, nullptr);
    BIO_free(file);
    if (parameters == nullptr)
        return;
    // The context owns the parameters only when it accepted them. A set that is too weak for the
    // library's security level is refused; the handshake then uses elliptic-curve key exchange.
    if (SSL_CTX_set0_tmp_dh_pkey(context, parameters) <= 0) {
        EVP_PKEY_free(parameters);
        portLog.WriteSystemText("Couldn't set DH parameters\r\n");
    }
}

} // namespace

SSL_CTX* NewClientTlsContext() {
    return SSL_CTX_new(TLS_method());
}

SSL_CTX* NewServerTlsContext(CVSPLog& portLog) {
    SSL_CTX* context = SSL_CTX_new(TLS_method());
    if (context == nullptr)
        return nullptr;
    LoadDhParameters(context, portLog);
    if (SSL_CTX_use_certificate_file(context, ServerCertificateFile, SSL_FILETYPE_PEM) <= 0)
        portLog.WriteSystemText("Can't read certificate file\r\n");
    SSL_CTX_set_default_passwd_cb(context, ServerKeyPasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(context, const_cast<char*>(ServerKeyPassword));
    if (SSL_CTX_use_PrivateKey_file(context, ServerCertificateFile, SSL_FILETYPE_PEM) <= 0)
        portLog.WriteSystemText("Can't read key file\r\n");
    if (SSL_CTX_load_verify_locations(context, TrustedCertificatesFile, nullptr) <= 0)
        portLog.WriteSystemText("Can't read CA list\r\n");
    if (SSL_CTX_set_default_verify_paths(context) <= 0)
        portLog.WriteSystemText("Can't read CA list\r\n");
    // The failures above are logged; left in the thread's error queue they would be taken for errors of
    // the next TLS call.
    ERR_clear_error();
    return context;
}
