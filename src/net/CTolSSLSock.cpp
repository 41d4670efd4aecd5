#include "CTolSSLSock.h"

#include "CSSLSocket.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "ErrorText.h"

#include <cerrno>

namespace {

constexpr int ReadSize = CAsyncConnector::BufferSize;
// Reading pauses while this many bytes already wait for the virtual port.
constexpr int InboundQueueLimit = 4096;

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

CTolSSLSock::CTolSSLSock(CSSLSocket& owner, CVSPDataBasic& port, CVSPLog& portLog, CVSPLog& programLog)
    : m_owner(owner), m_port(port), m_portLog(portLog), m_programLog(programLog) {
    m_sendBuffer.reserve(SendBufferSize);
}

CTolSSLSock::~CTolSSLSock() {
    m_connector.reset();
    Close();
}

void CTolSSLSock::CreateConnector(SSL_CTX* context) {
    m_connector.reset();
    m_connector = std::make_unique<CAsyncConnector>(context, *this, m_portLog, m_programLog);
}

void CTolSSLSock::DiscardPending() {
    m_sendBuffer.clear();
    m_sendOffset = 0;
    m_writeBlocked = false;
}

void CTolSSLSock::PollReceive() {
    if (m_port.NetToPortQueued() > InboundQueueLimit || !IsOpen() || !m_connected)
        return;
    ReadIntoConnector();
}

void CTolSSLSock::ReadIntoConnector() {
    unsigned char buffer[ReadSize];
    const int received = Receive(buffer, ReadSize);
    if (received > 0) {
        if (m_connector)
            m_connector->ReadCompleted(buffer, received);
        m_owner.OnReadFinished(*this);
        return;
    }
    // End of stream: the close notification follows and reports it.
    if (received == 0)
        return;
    const int error = LastError();
    if (!IsWouldBlock(error))
        m_owner.OnReceive(*this, error);
}

int CTolSSLSock::SendCiphertext(const unsigned char* data, int length) {
    // Ciphertext of a connection whose socket already failed has nowhere to go.
    if (!IsOpen())
        return -1;
    if (m_sendOffset == m_sendBuffer.size()) {
        m_sendBuffer.clear();
        m_sendOffset = 0;
    } else if (m_sendBuffer.size() + static_cast<std::size_t>(length) > m_sendBuffer.capacity()) {
        // Make room at the front before the buffer has to grow.
        m_sendBuffer.erase(m_sendBuffer.begin(),
                           m_sendBuffer.begin() + static_cast<std::ptrdiff_t>(m_sendOffset));
        m_sendOffset = 0;
    }
    m_sendBuffer.insert(m_sendBuffer.end(), data, data + length);
    return DoAsyncSendBuff();
}

int CTolSSLSock::DoAsyncSendBuff() {
    while (m_sendOffset < m_sendBuffer.size()) {
        const int sent =
            Send(m_sendBuffer.data() + m_sendOffset, static_cast<int>(m_sendBuffer.size() - m_sendOffset));
        if (sent >= 0) {
            m_sendOffset += static_cast<std::size_t>(sent);
            continue;
        }
        const int error = LastError();
        if (IsWouldBlock(error)) {
            // The writable notification resumes the send.
            m_writeBlocked = true;
            return 0;
        }
        m_portLog.WriteSystemText(
            "CTolSSLSock::DoAsyncSendBuff - SSL Socket failed to send: %d Socket will close..\n", error);
        m_portLog.WriteSystemText("%s", SystemErrorText(error).c_str());
        DiscardPending();
        m_owner.OnSendFailed(*this, error);
        return -1;
    }
    DiscardPending();
    return 0;
}

int CTolSSLSock::PlaintextReady() {
    m_owner.OnReceive(*this, 0);
    return 1;
}

void CTolSSLSock::OnReceive(int) {
    // An established connection is read only while the port's inbound queue has room; once it drains, the
    // data pump's PollReceive resumes reading. Handshake bytes are always read.
    if (m_tlsState == CSSLSocket::TLS_ESTABLISHED)
        PollReceive();
    else
        ReadIntoConnector();
}

void CTolSSLSock::OnSend(int error) {
    if (error != 0 || !m_connected)
        return;
    const bool wasBlocked = m_writeBlocked;
    if (DoAsyncSendBuff() == 0 && wasBlocked && !m_writeBlocked)
        m_owner.OnSendResumed(*this);
}

void CTolSSLSock::OnAccept(int error) {
    m_owner.OnAccept(*this, error);
}

void CTolSSLSock::OnConnect(int error) {
    m_connected = error == 0;
    m_owner.OnConnect(*this, error);
}

void CTolSSLSock::OnClose(int error) {
    m_connected = false;
    DiscardPending();
    m_owner.OnPeerClosed(*this, error);
}
