#pragma once

#include "CAsyncSocket.h"

class CNormalSocket;

// One socket of a plain link; it hands every notification to the link that owns it.
class CTolSock : public CAsyncSocket {
public:
    explicit CTolSock(CNormalSocket& owner) : m_owner(owner) {}

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnAccept(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;

private:
    CNormalSocket& m_owner;
};
