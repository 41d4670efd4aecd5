#include "CVSPDataEx.h"

#include "CNormalSocket.h"
#include "CSSLSocket.h"
#include "CTelComEngine.h"
#include "CVsportax1.h"

CVSPDataEx::CVSPDataEx(CVSPLog& programLog)
    : m_programLog(programLog), m_plainSocket(std::make_unique<CNormalSocket>(*this, programLog, m_portLog)),
      m_sslSocket(std::make_unique<CSSLSocket>(*this, programLog, m_portLog)),
      m_telCom(std::make_unique<CTelComEngine>(*this, *m_plainSocket, *m_sslSocket, programLog, m_portLog)) {
    m_plainSocket->SetTelnetReceiver(m_telCom.get());
}

CVSPDataEx::~CVSPDataEx() {
    m_portLog.CloseDataLog();
    m_portLog.CloseSystemLog();
    m_telCom.reset();
    m_sslSocket.reset();
    m_plainSocket.reset();
    m_vsp_ax.reset();
}

void CVSPDataEx::SetControl(std::unique_ptr<CVsportax1> control) {
    m_vsp_ax = std::move(control);
    ControlCreated = m_vsp_ax ? 1 : 0;
    m_telCom->SetControl(m_vsp_ax.get());
}

CPortLink& CVSPDataEx::Link() {
    return SSLUse == 1 ? TlsLink() : PlainLink();
}

CPortLink& CVSPDataEx::PlainLink() {
    return *m_plainSocket;
}

CPortLink& CVSPDataEx::TlsLink() {
    return *m_sslSocket;
}

void CVSPDataEx::SetMessageSink(CLinkMessageSink* sink) {
    m_plainSocket->SetMessageSink(sink);
    m_sslSocket->SetMessageSink(sink);
}

int CVSPDataEx::IsOpened() const {
    return m_vsp_ax ? m_vsp_ax->IsOpened() : 0;
}

int CVSPDataEx::IsPortValid() const {
    return m_vsp_ax ? m_vsp_ax->IsPortValid() : 0;
}

bool CVSPDataEx::LinkMayStart() const {
    if (!m_vsp_ax)
        return false;
    return Sync != 1 || IsOpened() == 1;
}

void CVSPDataEx::StartLink() {
    m_portLog.WriteSystemText("[TCP] Try to connect.\r\n");
    Link().CreateSocket();
}

void CVSPDataEx::OpenConfiguredLogs() {
    if (LogData == 1)
        m_portLog.OpenDataLog(PortName);
    if (LogSystem == 1)
        m_portLog.OpenSystemLog(PortName);
}
