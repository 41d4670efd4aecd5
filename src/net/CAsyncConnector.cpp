#include "CAsyncConnector.h"

#include "CVSPLog.h"

#include <cstring>
#include <new>
#include <utility>

CAsyncConnector::CAsyncConnector(SSL_CTX* context, IConnectorCallback& callback, CVSPLog& portLog,
                                 CVSPLog& programLog)
    : COpenSSLConnectorBase(context, portLog, programLog), m_callback(callback) {}

void CAsyncConnector::Write(const unsigned char* data, int length) {
    try {
        m_outgoing.emplace_back(data, data + (length > 0 ? length : 0));
    } catch (const std::bad_alloc&) {
        m_programLog.WriteSystemText("[ERROR] CAsyncConnector::Write memory allocation\r\n");
        return;
    }
    Pump(PumpReason::ApplicationData);
}

void CAsyncConnector::ReadCompleted(const unsigned char* data, int length) {
    try {
        m_incoming.emplace_back(data, data + (length > 0 ? length : 0));
    } catch (const std::bad_alloc&) {
        m_programLog.WriteSystemText("[ERROR] CAsyncConnector::ReadCompleted memory allocation\r\n");
        return;
    }
    Pump(PumpReason::NetworkData);
}

void CAsyncConnector::Reset() {
    m_outgoing.clear();
    m_incoming.clear();
}

void CAsyncConnector::ConsumePlaintext(int count) {
    if (count <= 0)
        return;
    if (count > m_plaintextLength)
        count = m_plaintextLength;
    std::memmove(m_plaintext, m_plaintext + count, static_cast<std::size_t>(m_plaintextLength - count));
    m_plaintextLength -= count;
}

void CAsyncConnector::HasPending(bool& incoming, bool& outgoing) const {
    incoming = !m_incoming.empty();
    outgoing = !m_outgoing.empty();
}

bool CAsyncConnector::GiveBack(std::deque<Node>& queue, Node node, int used) {
    if (node.empty())
        return true;
    if (used <= 0) {
        queue.push_front(std::move(node));
        return false;
    }
    if (static_cast<std::size_t>(used) < node.size()) {
        node.erase(node.begin(), node.begin() + used);
        queue.push_front(std::move(node));
    }
    return true;
}

bool CAsyncConnector::ProcessIncoming() {
    if (m_incoming.empty())
        return false;
    Node node = std::move(m_incoming.front());
    m_incoming.pop_front();
    const int taken = FeedCiphertext(node.data(), static_cast<int>(node.size()));
    return GiveBack(m_incoming, std::move(node), taken);
}

bool CAsyncConnector::ProcessOutgoing() {
    if (m_outgoing.empty())
        return false;
    Node node = std::move(m_outgoing.front());
    m_outgoing.pop_front();
    const int written = WritePlaintext(node.data(), static_cast<int>(node.size()));
    return GiveBack(m_outgoing, std::move(node), written);
}

void CAsyncConnector::SendToNetwork(const unsigned char* data, int length) {
    m_callback.SendCiphertext(data, length);
}

void CAsyncConnector::OnPlaintext(const unsigned char* data, int length) {
    std::memmove(m_plaintext, data, static_cast<std::size_t>(length));
    m_plaintextLength = length;
    while (m_plaintextLength > 0) {
        const int before = m_plaintextLength;
        m_callback.PlaintextReady();
        // A callback that takes nothing would hold the connection here for ever; its bytes are dropped.
        if (m_plaintextLength >= before)
            m_plaintextLength = 0;
    }
}

void CAsyncConnector::GetPlaintextBuffer(unsigned char*& buffer, int& size) {
    buffer = m_plaintext;
    size = BufferSize;
}

void CAsyncConnector::GetCiphertextBuffer(unsigned char*& buffer, int& size) {
    buffer = m_ciphertext;
    size = BufferSize;
}
