#include "CTolSock.h"

#include "CNormalSocket.h"

void CTolSock::OnReceive(int) {
    m_owner.OnReceive();
}

void CTolSock::OnSend(int error) {
    if (error == 0 && m_owner.HasPendingSend())
        m_owner.ResumeSend();
}

void CTolSock::OnAccept(int error) {
    m_owner.OnAccept(*this, error);
}

void CTolSock::OnConnect(int error) {
    m_owner.OnConnect(error);
}

void CTolSock::OnClose(int error) {
    m_owner.OnClose(error);
}
