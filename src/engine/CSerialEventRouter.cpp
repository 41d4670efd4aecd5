#include "CSerialEventRouter.h"

#include "CEnginePorts.h"
#include "CRegistryStore.h"
#include "CTelComEngine.h"
#include "CUserNotifier.h"
#include "CVSPDataEx.h"
#include "CVsportax1.h"
#include "EngineTexts.h"
#include "TelnetProtocol.h"

namespace {

void SendControl(CVSPDataEx& port, int value) {
    port.TelCom().SendComPortCommand(CTelComEngine::SET_CONTROL, 0, static_cast<uint8_t>(value));
}

void SendByte(CVSPDataEx& port, int command, int value) {
    port.TelCom().SendComPortCommand(command, 0, static_cast<uint8_t>(value));
}

} // namespace

int StopSizeOf(int stopBits) {
    switch (stopBits) {
    case 0:
        return 1;
    case 1:
        return 3;
    case 2:
        return 2;
    default:
        return 0;
    }
}

CSerialEventRouter::CSerialEventRouter(CEnginePorts& ports) : m_ports(ports) {}

bool CSerialEventRouter::Forwards(const CVSPDataEx& port) {
    return port.TelComUse == 1 && port.SockState == VSP_SOCKET_CONNECTED;
}

void CSerialEventRouter::OnOpenClose(int id, int opened) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    CVSPLog& log = port->PortLog();
    if (opened) {
        port->VspState = VSP_OPENED;
        if (port->LogData == 1)
            log.WriteDataText("VSP is opened.\r\n");
        if (port->Sync == 1 && port->SockState == VSP_SOCKET_NOT_CONNECTED)
            port->Link().CreateSocket();
        if (port->TelComUse == 1)
            SendPortStateToVsp(*port);
    } else {
        port->VspState = VSP_CLOSED;
        if (port->LogData == 1)
            log.WriteDataText("VSP is closed.\r\n");
        if (port->Sync == 1) {
            port->Link().CloseSocket();
            port->SockState = VSP_SOCKET_NOT_CONNECTED;
        }
    }
    m_ports.UpdateRow(*port);
}

void CSerialEventRouter::OnBaudRate(int id, int baud) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    const bool logs = port->LogData == 1;
    if (logs)
        port->PortLog().WriteDataText("OnBaudRate [%d]\r\n", baud);
    if (Forwards(*port)) {
        if (logs)
            port->PortLog().WriteDataText("[TELCOM] VSP->TCP OnBaudRate [%d]\r\n", baud);
        port->TelCom().SendComPortCommand(CTelComEngine::SET_BAUDRATE, static_cast<uint32_t>(baud), 0);
    }
    m_ports.UpdateRow(*port);
}

void CSerialEventRouter::OnLineControl(int id, int stopBits, int parity, int wordLength) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    const bool logs = port->LogData == 1;
    CVSPLog& log = port->PortLog();
    if (logs)
        log.WriteDataText("OnLineControl StpBts:0x%X, Prty:0x%X, WrdLen:0x%X \r\n", stopBits, parity,
                          wordLength);
    if (Forwards(*port)) {
        const int dataBits = wordLength & 0xFF;
        if (logs)
            log.WriteDataText("[TELCOM] VSP->TCP OnLineControl DataBit[%d]\r\n", dataBits);
        SendByte(*port, CTelComEngine::SET_DATASIZE, dataBits);
        if (logs)
            log.WriteDataText("[TELCOM] VSP->TCP OnLineControl Parity [%d]\r\n", parity + 1);
        SendByte(*port, CTelComEngine::SET_PARITY, parity + 1);
        // A stop-bit code without a command value is only logged above; the peer keeps its setting.
        if (const int stopSize = StopSizeOf(stopBits)) {
            if (logs)
                log.WriteDataText("[TELCOM] VSP->TCP OnLineControl StopBit [%d]\r\n", stopSize);
            SendByte(*port, CTelComEngine::SET_STOPSIZE, stopSize);
        }
    }
    m_ports.UpdateRow(*port);
}

void CSerialEventRouter::OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    if (port->LogData == 1)
        port->PortLog().WriteDataText(
            "Flow control changed to CHSh:0x%X, FR:0x%X, XOnL:0x%X, XOffL:0x%X \r\n", handshake, flowReplace,
            xonLimit, xoffLimit);
    m_ports.UpdateRow(*port);
}

void CSerialEventRouter::OnRTS(int id, int level) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    const bool logs = port->LogData == 1;
    if (logs)
        port->PortLog().WriteDataText("OnRTS [%d]\r\n", level);
    if (Forwards(*port)) {
        if (logs)
            port->PortLog().WriteDataText("[TELCOM] VSP->TCP OnRTS [%d]\r\n", level);
        SendControl(*port, level == 1 ? telnet::CONTROL_RTS_ON : telnet::CONTROL_RTS_OFF);
    }
    port->RtsState = level;
}

void CSerialEventRouter::OnDTR(int id, int level) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    const bool logs = port->LogData == 1;
    if (logs)
        port->PortLog().WriteDataText("OnDTR [%d]\r\n", level);
    if (Forwards(*port)) {
        if (logs)
            port->PortLog().WriteDataText("[TELCOM] VSP->TCP OnDTR [%d]\r\n", level);
        SendControl(*port, level == 1 ? telnet::CONTROL_DTR_ON : telnet::CONTROL_DTR_OFF);
    }
    port->DtrState = level;
}

void CSerialEventRouter::OnBreak(int id, int on) {
    CVSPDataEx* port = m_ports.Find(id);
    if (!port)
        return;
    const bool logs = port->LogData == 1;
    if (logs)
        port->PortLog().WriteDataText("OnBreak [%d]\r\n", on);
    if (Forwards(*port)) {
        if (logs)
            port->PortLog().WriteDataText("[TELCOM] VSP->TCP OnBreak [%d]\r\n", on);
        SendControl(*port, on == 1 ? telnet::CONTROL_BREAK_ON : telnet::CONTROL_BREAK_OFF);
    }
}

void CSerialEventRouter::SendPortStateToNet(CVSPDataEx& port) {
    CVsportax1* device = port.Control();
    if (port.TelComUse != 1 || !device || device->IsOpened() != 1)
        return;
    const bool logs = port.LogData == 1;
    CVSPLog& log = port.PortLog();

    const int dtr = device->GetDTR() == 1 ? telnet::CONTROL_DTR_ON : telnet::CONTROL_DTR_OFF;
    SendControl(port, dtr);
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_net [DTR %d 8:ON, 9:OFF] TELCOM_SET_CONTROL [%X]\r\n",
                          dtr, dtr);
    const int rts = device->GetRTS() == 1 ? telnet::CONTROL_RTS_ON : telnet::CONTROL_RTS_OFF;
    SendControl(port, rts);
    if (logs)
        log.WriteDataText(
            "[TELCOM] send_port_state_to_net [RTS %d 11:ON, 12:OFF] TELCOM_SET_CONTROL [%X]\r\n", rts, rts);
    const int baud = device->GetBaudRate();
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_net TELCOM_SET_BAUD [%d]\r\n", baud);
    port.TelCom().SendComPortCommand(CTelComEngine::SET_BAUDRATE, static_cast<uint32_t>(baud), 0);
    const int dataBits = device->GetDataBits() & 0xFF;
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_net TELCOM_SET_DATA_SIZE [%d]\r\n", dataBits);
    SendByte(port, CTelComEngine::SET_DATASIZE, dataBits);
    const int parity = device->GetParity() + 1;
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_net TELCOM_SET_PARITY [%d 1:NONE, 2:ODD, 3:EVEN, "
                          "4:MARK, 5:SPACE]\r\n",
                          parity);
    SendByte(port, CTelComEngine::SET_PARITY, parity);
    if (const int stopSize = StopSizeOf(device->GetStopBits())) {
        if (logs)
            log.WriteDataText("[TELCOM] send_port_state_to_net TELCOM_SET_STOPSIZE [%d 1:1, 2:2, 3:1.5]\r\n",
                              stopSize);
        SendByte(port, CTelComEngine::SET_STOPSIZE, stopSize);
    }
}

void CSerialEventRouter::SendPortStateToVsp(CVSPDataEx& port) {
    CVsportax1* device = port.Control();
    if (!device)
        return;
    const bool logs = port.LogData == 1;
    CVSPLog& log = port.PortLog();
    device->SetDSR(port.DsrState);
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_vsp SetDSR [%d]\r\n", port.DsrState);
    device->SetCTS(port.CtsState);
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_vsp SetCTS [%d]\r\n", port.CtsState);
    device->SetDCD(port.DcdState);
    if (logs)
        log.WriteDataText("[TELCOM] send_port_state_to_vsp SetDCD [%d]\r\n", port.DcdState);
}

bool CSerialEventRouter::ApplyStrictBaudrate(CVSPDataEx& port) {
    const bool succeeded = port.Control() && port.Control()->SetStrictBaudRate(port.StrictBaudrate) == 1;
    port.PortLog().WriteSystemText("SetStrictBaudrate : [%s] [%s]\r\n",
                                   port.StrictBaudrate == 1 ? "ON" : "OFF", succeeded ? "SUCCESS" : "FAIL");
    return succeeded;
}

void CSerialEventRouter::SetStrictBaudrate(bool on, const std::string& portName) {
    CVSPDataEx* port = m_ports.FindByPortName(portName);
    if (!port)
        return;
    port->StrictBaudrate = on ? 1 : 0;
    m_ports.Store().SavePort(*port);
    if (port->IsPortValid() == 0)
        return;
    if (!ApplyStrictBaudrate(*port))
        m_ports.Notifier().ShowError(engine_text::StrictBaudRateFailed);
    m_ports.UpdateRow(*port);
}
