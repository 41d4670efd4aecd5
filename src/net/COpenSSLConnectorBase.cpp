#include "COpenSSLConnectorBase.h"

#include "CVSPLog.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <cstring>

COpenSSLConnectorBase::COpenSSLConnectorBase(SSL_CTX* context, CVSPLog& portLog, CVSPLog& programLog)
    : m_portLog(portLog), m_programLog(programLog) {
    m_connection = SSL_new(context);
    m_networkIn = BIO_new(BIO_s_mem());
    m_networkOut = BIO_new(BIO_s_mem());
    SSL_set_bio(m_connection, m_networkIn, m_networkOut);
}

COpenSSLConnectorBase::~COpenSSLConnectorBase() {
    // The connection owns both memory BIOs.
    SSL_free(m_connection);
}

bool COpenSSLConnectorBase::IsHandshakeFinished() const {
    return SSL_is_init_finished(m_connection) != 0;
}

bool COpenSSLConnectorBase::HasNetworkOutput() const {
    return BIO_ctrl_pending(m_networkOut) > 0;
}

void COpenSSLConnectorBase::Pump(PumpReason reason) {
    if (IsHandshakeFinished()) {
        if (reason == PumpReason::NetworkData) {
            ProcessIncoming();
        } else {
            bool incoming = false;
            bool outgoing = false;
            do {
                HasPending(incoming, outgoing);
            } while (outgoing && ProcessOutgoing());
        }
        // Reading may answer the peer too (key updates, alerts), so output is flushed after either.
        if (HasNetworkOutput())
            FlushOutput();
        return;
    }

    bool incoming = false;
    bool outgoing = false;
    HasPending(incoming, outgoing);
    while ((!m_wantRead && outgoing) || incoming) {
        bool consumed = false;
        if (incoming)
            consumed = ProcessIncoming() || consumed;
        if (!m_wantRead && outgoing)
            consumed = ProcessOutgoing() || consumed;
        if (HasNetworkOutput())
            FlushOutput();
        // A handshake that failed for good refuses every write without asking to read first; without this
        // exit the loop would spin on it. The progress callback and the supervision's time-out deal with
        // such a connection.
        if (!consumed)
            break;
        HasPending(incoming, outgoing);
        if (IsHandshakeFinished())
            break;
    }
}

int COpenSSLConnectorBase::FeedCiphertext(const unsigned char* data, int length) {
    m_wantRead = false;
    ERR_clear_error();
    const int taken = BIO_write(m_networkIn, data, length);
    if (taken <= -2 && !BIO_should_retry(m_networkIn))
        HandleError(taken);

    unsigned char* plaintext = nullptr;
    int size = 0;
    GetPlaintextBuffer(plaintext, size);
    for (;;) {
        ERR_clear_error();
        const int read = SSL_read(m_connection, plaintext, size);
        if (read <= 0) {
            HandleError(read);
            break;
        }
        OnPlaintext(plaintext, read);
    }
    return taken;
}

int COpenSSLConnectorBase::WritePlaintext(const unsigned char* data, int length) {
    ERR_clear_error();
    int written = SSL_write(m_connection, data, length);
    if (written <= 0) {
        HandleError(written);
        written = 0;
    }
    if (SSL_want_read(m_connection))
        m_wantRead = true;
    return written;
}

void COpenSSLConnectorBase::FlushOutput() {
    unsigned char* ciphertext = nullptr;
    int size = 0;
    GetCiphertextBuffer(ciphertext, size);
    while (HasNetworkOutput()) {
        const int read = BIO_read(m_networkOut, ciphertext, size);
        if (read <= -2) {
            HandleError(read);
            break;
        }
        if (read <= 0)
            break;
        SendToNetwork(ciphertext, read);
    }
}

void COpenSSLConnectorBase::HandleError(int result) {
    if (result > 0)
        return;
    const int errorClass = SSL_get_error(m_connection, result);
    if (errorClass == SSL_ERROR_NONE || errorClass == SSL_ERROR_WANT_READ ||
        errorClass == SSL_ERROR_ZERO_RETURN) {
        m_portLog.WriteSystemText("COpenSSLConnectorBase::HandleError - SSL_ERROR_ZERO_RETURN / "
                                  "SSL_ERROR_NONE / SSL_ERROR_WANT_READ \r\n");
        return;
    }
    unsigned long code = static_cast<unsigned long>(errorClass);
    do {
        char number[32];
        const int numberLength = std::snprintf(number, sizeof number, "Error: %lu - ", code);
        m_portLog.WriteSystemRaw(number, static_cast<std::size_t>(numberLength));
        char text[512];
        ERR_error_string_n(code, text, sizeof text);
        m_portLog.WriteSystemRaw(text, std::strlen(text));
        m_portLog.WriteSystemText("\r\n");
        code = ERR_get_error();
    } while (code != 0);
}
