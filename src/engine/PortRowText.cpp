#include "PortRowText.h"

#include "CVSPDataEx.h"
#include "CVsportax1.h"
#include "EngineTexts.h"
#include "ErrorText.h"

#include <QString>

namespace {

std::string Format(const char* format, auto... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

std::string PeerText(const char* label, const CVSPDataBasic& port) {
    return Format("%s %s:%d", label, port.PeerName.c_str(), port.PeerPort);
}

std::string UdpText(const char* label, const CVSPDataBasic& port) {
    return Format("%s %s:%d, %d", label, port.PeerName.c_str(), port.PeerPort, port.LocalPort);
}

std::string ByMode(const char* label, const CVSPDataBasic& port, const std::string& serverText) {
    switch (port.VspMode) {
    case VSP_MODE_TCP_CLIENT:
        return PeerText(label, port);
    case VSP_MODE_TCP_SERVER:
        return serverText;
    default:
        return UdpText(label, port);
    }
}

} // namespace

std::string LinkStateText(const CVSPDataBasic& port) {
    using namespace engine_text;
    switch (port.SockState) {
    case VSP_SOCKET_NOT_CONNECTED:
        return ByMode(NotConnected, port, Format("%s %d", NotConnected, port.LocalPort));
    case VSP_SOCKET_CONNECTED: {
        const char* label = port.SSLUse == 1 ? SslConnected : Connected;
        return ByMode(label, port, Format("%s %s", label, port.RemoteAddress.c_str()));
    }
    case VSP_SOCKET_ERROR:
        return SystemErrorText(port.LastSockError);
    case VSP_SOCKET_CONNECTING:
    case VSP_SOCKET_CLOSED:
        return PeerText(Connecting, port);
    case VSP_SOCKET_LISTENING:
        return Format("%s %d", port.SSLUse == 1 ? SslListening : Listening, port.LocalPort);
    case VSP_SOCKET_UDP_OPEN:
        return UdpText(Connected, port);
    case VSP_SOCKET_SSL_HANDSHAKE:
        if (port.VspMode == VSP_MODE_TCP_SERVER)
            return Format("%s %s", SslConnecting, port.RemoteAddress.c_str());
        return PeerText(SslConnecting, port);
    default:
        return {};
    }
}

int PortStateImage(const CVSPDataBasic& port) {
    switch (port.VspState) {
    case VSP_OPENED:
        return 2;
    case VSP_STOP:
        return 3;
    case VSP_CLOSED:
        return port.Bypass == 1 ? 4 : 0;
    case VSP_ATTACH_FAILED:
        return port.Bypass == 1 ? 4 : 1;
    default:
        return 0;
    }
}

int LinkStateImage(const CVSPDataBasic& port) {
    if (port.VspState == VSP_STOP)
        return 3;
    if (port.SockState == VSP_SOCKET_ERROR)
        return 1;
    if (IsDataFlowing(port.SockState))
        return 2;
    return 0;
}

PortRowView MakePortRowView(CVSPDataEx& port) {
    PortRowView view;
    view.texts[CPortListModel::PortColumn] = QString::fromStdString(port.PortName);
    view.texts[CPortListModel::LinkColumn] = QString::fromStdString(LinkStateText(port));
    view.texts[CPortListModel::CommentColumn] = QString::fromStdString(port.PortComments);
    view.portImage = PortStateImage(port);
    view.linkImage = LinkStateImage(port);
    if (CVsportax1* control = port.Control()) {
        view.texts[CPortListModel::SettingsColumn] = QString::fromStdString(SerialSettingsText(
            control->IsOpened() == 1, port.StrictBaudrate, control->GetBaudRate(), control->GetParity(),
            control->GetDataBits(), control->GetStopBits(), control->GetFlowReplace()));
        view.texts[CPortListModel::ProgramColumn] = QString::fromStdString(control->GetProgramName());
    }
    return view;
}
