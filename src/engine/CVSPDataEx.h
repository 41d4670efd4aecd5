#pragma once

#include "CVSPDataBasic.h"
#include "CVSPLog.h"

#include <memory>

class CVsportax1;
class CPortLink;
class CNormalSocket;
class CSSLSocket;
class CTelComEngine;
class CLinkMessageSink;

// A port at run time: its configuration and runtime values together with the objects that make it work,
// its virtual port, its plain and TLS links, its Telnet COM port engine and its own log files.
class CVSPDataEx : public CVSPDataBasic {
public:
    explicit CVSPDataEx(CVSPLog& programLog);
    ~CVSPDataEx() override;

    CVSPLog& PortLog() { return m_portLog; }
    CVSPLog& ProgramLog() { return m_programLog; }

    // The virtual port; nullptr while it was not created or creating it failed.
    CVsportax1* Control() const { return m_vsp_ax.get(); }
    void SetControl(std::unique_ptr<CVsportax1> control);
    int ControlCreated = 0;

    CNormalSocket& PlainSocket() { return *m_plainSocket; }
    CSSLSocket& SslSocket() { return *m_sslSocket; }
    CTelComEngine& TelCom() { return *m_telCom; }
    // The link the port's settings select: TLS when SSLUse is 1, else plain.
    CPortLink& Link();
    CPortLink& PlainLink();
    CPortLink& TlsLink();
    void SetMessageSink(CLinkMessageSink* sink);

    // What the virtual port reports; a port without one reads as closed, empty and invalid.
    int IsOpened() const;
    int IsPortValid() const;

    // The link may start unless the port follows its application (Sync) and none has it open. A port whose
    // virtual port could not be made stays inert.
    bool LinkMayStart() const;
    // Logs the attempt and opens the link the settings select.
    void StartLink();
    // Opens the data and system logs the settings ask for, named after the port.
    void OpenConfiguredLogs();

private:
    CVSPLog& m_programLog;
    // Declared first so that it outlives the members that keep a reference to it; its files are closed
    // before anything else is destroyed.
    CVSPLog m_portLog;
    std::unique_ptr<CVsportax1> m_vsp_ax;
    std::unique_ptr<CNormalSocket> m_plainSocket;
    std::unique_ptr<CSSLSocket> m_sslSocket;
    std::unique_ptr<CTelComEngine> m_telCom;
};
