#include "CPortEngine.h"

#include "CPortLink.h"
#include "CRegistryStore.h"
#include "CUserNotifier.h"
#include "CVSPDataEx.h"
#include "CVSPLog.h"
#include "EngineTexts.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <thread>

namespace {

// How long the deletion worker rests when every row left waits for a connect attempt to end.
constexpr auto WaitingRowPause = std::chrono::milliseconds(50);

} // namespace

CPortEngine::ControlFactory CPortEngine::PtyPorts(std::string portDirectory) {
    return [portDirectory = std::move(portDirectory)](int controlId, CVsportEvents& events) {
        return MakePtyPort(controlId, events, portDirectory);
    };
}

CPortEngine::CPortEngine(CRegistryStore& store, CVSPLog& programLog, CUserNotifier& notifier,
                         ControlFactory makeControl, QObject* parent)
    : QObject(parent), m_ports(store, programLog, notifier), m_makeControl(std::move(makeControl)),
      m_router(m_ports), m_supervisor(m_ports, m_router), m_pump(m_ports) {
    m_supervisionTimer.setSingleShot(true);
    m_supervisionTimer.setInterval(SupervisionPeriodMs);
    connect(&m_supervisionTimer, &QTimer::timeout, this, &CPortEngine::OnSupervisionTimer);
}

CPortEngine::~CPortEngine() {
    // A worker may be waiting for the GUI thread; serve it until its job has ended.
    while (m_job.IsSet())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void CPortEngine::Start() {
    m_supervisionTimer.start();
    const int stored = m_ports.Store().CountPortKeys();
    if (stored <= 0) {
        m_ports.Notifier().HideProgressPanel();
        return;
    }
    m_ports.Notifier().ShowProgressPanel(engine_text::CreatingPort, stored);
    LoadAllPorts();
}

void CPortEngine::OnSupervisionTimer() {
    m_supervisor.SupervisionTick();
    m_pump.RequestPass();
    m_supervisionTimer.start();
}

// --- hand-off between the worker and the GUI thread ---

void CPortEngine::RunOnGuiThread(const std::function<void()>& step) {
    if (QThread::currentThread() == thread())
        step();
    else
        QMetaObject::invokeMethod(this, step, Qt::BlockingQueuedConnection);
}

void CPortEngine::SendJobMessage(JobCode code, JobParam& param) {
    RunOnGuiThread([&] { OnJobMessage(code, param); });
}

void CPortEngine::AfterJobEnded(std::function<void()> step) {
    // The worker still waits for the message being handled; a listener that starts the next job at once
    // would wait for that worker in turn.
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void CPortEngine::OnJobMessage(JobCode code, JobParam& param) {
    CUserNotifier& notifier = m_ports.Notifier();
    switch (code) {
    case JOB_REGISTER:
        RegisterPort(std::move(param.record));
        notifier.AdvanceProgress();
        break;
    case JOB_DELETE_RECORD:
        DeletePortRecord(param.vspId);
        notifier.AdvanceProgress();
        break;
    case JOB_DELETION_END:
        notifier.HideProgressPanel();
        m_job.Clear();
        if (m_ports.RestorePending == 1) {
            m_ports.RestorePending = 0;
        } else {
            notifier.HideMessageDialog();
            m_ports.BatchJob = 0;
        }
        AfterJobEnded([this] { emit DeletionFinished(); });
        break;
    case JOB_EXIT_END:
        notifier.HideMessageDialog();
        m_job.Clear();
        AfterJobEnded([this] { emit ExitFinished(); });
        break;
    case JOB_SHOW_TEXT:
        notifier.ShowMessageDialog(param.text);
        break;
    case JOB_LOAD_END:
        notifier.HideProgressPanel();
        notifier.HideMessageDialog();
        m_job.Clear();
        m_ports.BatchJob = 0;
        for (CVSPDataBasic* record : m_ports.Table().Records())
            record->BypassPeer = m_ports.Table().FindByPortName(record->BypassPortName);
        AfterJobEnded([this] { emit LoadFinished(); });
        break;
    case JOB_CREATE_CONTROL:
        CreateControlWindow(*param.target);
        break;
    case JOB_SINGLE_CREATE_END: {
        const int vspId = param.record->VspId;
        RegisterPort(std::move(param.record));
        notifier.AdvanceProgress();
        notifier.HideMessageDialog();
        notifier.HideProgressPanel();
        m_job.Clear();
        m_ports.Rows().SortByPortName();
        AfterJobEnded([this, vspId] {
            emit SetupPagesRefresh();
            emit PortCreated(vspId);
        });
        break;
    }
    }
}

// --- bringing ports into being ---

std::unique_ptr<CVSPDataEx> CPortEngine::NewRecord() {
    // Built on the GUI thread, where its links will live.
    std::unique_ptr<CVSPDataEx> record;
    RunOnGuiThread([&] { record = std::make_unique<CVSPDataEx>(m_ports.ProgramLog()); });
    return record;
}

void CPortEngine::LoadAllPorts() {
    m_job.Start([this] {
        CRegistryStore& store = m_ports.Store();
        for (const std::string& keyName : store.PortKeyNames()) {
            const int vspId = m_ports.Table().AllocateId();
            if (vspId < 0) {
                m_ports.ProgramLog().WriteSystemText("[Error] Invalid VSP ID. %s\r\n", keyName.c_str());
                break;
            }
            JobParam param;
            param.record = NewRecord();
            param.record->VspId = vspId;
            store.ReadPort(keyName, *param.record);
            param.record->OpenConfiguredLogs();
            make_vsp_control(*param.record);
            SendJobMessage(JOB_REGISTER, param);
        }
        RunOnGuiThread([this] { m_ports.Rows().SortByPortName(); });
        JobParam end;
        SendJobMessage(JOB_LOAD_END, end);
    });
}

int CPortEngine::make_vsp_control(CVSPDataEx& port) {
    m_ports.ProgramLog().WriteSystemText("VSAX_%d\r\n", port.VspId);
    m_ports.ProgramLog().WriteSystemText("make_vsp_control start.\r\n");
    JobParam param;
    param.target = &port;
    SendJobMessage(JOB_CREATE_CONTROL, param);
    if (port.ControlCreated == 0)
        return 0;
    BindDevice(port);
    return 1;
}

void CPortEngine::CreateControlWindow(CVSPDataEx& port) {
    CVSPLog& log = m_ports.ProgramLog();
    log.WriteSystemText("VSAX_%d\r\n", port.VspId);
    log.WriteSystemText("make_vsp_control start.\r\n");
    port.SetControl(m_makeControl(port.VspId, *this));
    if (port.ControlCreated == 0)
        log.WriteSystemText("make_vsp_control fail.\r\n");
}

void CPortEngine::BindDevice(CVSPDataEx& port) {
    CVsportax1& device = *port.Control();
    CVSPLog& log = port.PortLog();
    log.WriteSystemText("Creating a VSP port.\r\n");
    if (device.Create(port.PortName) == 1) {
        log.WriteSystemText("A port has created.\r\n");
    } else if (device.Attach(port.PortName) == 0) {
        log.WriteSystemText("Attach has failed.\r\n");
        port.VspState = VSP_ATTACH_FAILED;
    } else {
        log.WriteSystemText("A VSP port has attached.\r\n");
        port.VspState = device.IsOpened() == 1 ? VSP_OPENED : VSP_CLOSED;
    }
    if (device.IsPortValid() == 1) {
        if (device.SetWiring(32, 16, 0, 0) == 0)
            log.WriteSystemText("SetWiring has failed.\r\n");
        log.WriteSystemText("A VSP port is created.\r\n");
        port.VspState = VSP_CLOSED;
        ApplyStrictBaudrate(port);
    }
}

void CPortEngine::ApplyStrictBaudrate(CVSPDataEx& port) {
    if (!CSerialEventRouter::ApplyStrictBaudrate(port))
        RunOnGuiThread([this] { m_ports.Notifier().ShowError(engine_text::StrictBaudRateFailed); });
}

void CPortEngine::RegisterPort(std::unique_ptr<CVSPDataEx> port) {
    CVSPDataEx& record = *port;
    m_ports.Table().Register(std::move(port));
    m_ports.Rows().AppendRow(record.VspId, QString::fromStdString(record.PortName),
                             QString::fromStdString(record.PortComments), record.Bypass == 1);
    record.SetMessageSink(this);
    RecoverMissedOpen(record);
    ApplyPort(record, APPLY_START);
    m_ports.UpdateRow(record);
    m_pump.RequestPass();
}

void CPortEngine::RecoverMissedOpen(CVSPDataEx& port) {
    // An application may open the port between its creation on the worker and its registration here;
    // the open event then found no port. Without the open state every byte for it would be dropped.
    if (port.VspState == VSP_CLOSED && port.IsOpened() == 1)
        m_router.OnOpenClose(port.VspId, 1);
}

void CPortEngine::ApplyPort(CVSPDataEx& port, ApplyKind kind) {
    switch (kind) {
    case APPLY_CREATE:
        if (port.Control())
            BindDevice(port);
        if (port.LinkMayStart())
            port.StartLink();
        return;
    case APPLY_START:
        if (port.LinkMayStart())
            port.StartLink();
        return;
    case APPLY_MODIFY:
        break;
    }
    port.PortLog().WriteSystemText("Try to modify a VSP.\r\n");
    if (port.IsPortValid() == 1)
        ApplyStrictBaudrate(port);
    const int sock = port.SockState;
    if (port.VspState == VSP_STOP || sock == VSP_SOCKET_NOT_CONNECTED) {
        if (port.LinkMayStart()) {
            if (port.SSLUse != 1 && port.LogData == 1)
                port.PortLog().WriteDataText("The port's TCP will be opened.");
            port.StartLink();
        }
        m_ports.UpdateRow(port);
    } else if (sock == VSP_SOCKET_CONNECTING) {
        port.CloseNoticePending = 1;
        m_ports.Notifier().HideProgressPanel();
        m_ports.Notifier().ShowMessageDialog(engine_text::WaitingForConnectionEnd);
    } else if (sock == VSP_SOCKET_CONNECTED || sock == VSP_SOCKET_ERROR || sock == VSP_SOCKET_LISTENING ||
               sock == VSP_SOCKET_UDP_OPEN || sock == VSP_SOCKET_SSL_HANDSHAKE ||
               port.VspMode == VSP_MODE_TCP_SERVER || port.VspMode == VSP_MODE_UDP) {
        port.PortLog().WriteSystemText("[TCP] Try to close.\r\n");
        port.PlainLink().CloseSocket();
        port.TlsLink().CloseSocket();
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        if (port.LinkMayStart())
            port.StartLink();
    }
    if (port.VspState == VSP_STOP) {
        if (port.IsOpened() == 1)
            port.VspState = VSP_OPENED;
        else
            port.VspState = port.IsPortValid() == 1 ? VSP_CLOSED : VSP_ATTACH_FAILED;
        m_ports.UpdateRow(port);
    }
    m_pump.RequestPass();
}

bool CPortEngine::CreatePort(const CVSPDataBasic& page) {
    CUserNotifier& notifier = m_ports.Notifier();
    if (m_job.IsSet()) {
        notifier.ShowError(engine_text::JobInProgress);
        return false;
    }
    if (!ValidatePort(page))
        return false;
    const int vspId = m_ports.Table().AllocateId();
    if (vspId < 0) {
        notifier.ShowError("[Error] Invalid VSP ID.");
        return false;
    }
    auto record = std::make_unique<CVSPDataEx>(m_ports.ProgramLog());
    record->VspId = vspId;
    record->CopyConfiguration(page);
    m_ports.Store().SavePort(*record);
    notifier.ShowProgressPanel(engine_text::CreatingPort, 1);
    notifier.ShowMessageDialog(engine_text::CreatingPort);
    m_job.Start([this, raw = record.release()] {
        JobParam param;
        param.record.reset(raw);
        param.record->OpenConfiguredLogs();
        make_vsp_control(*param.record);
        SendJobMessage(JOB_SINGLE_CREATE_END, param);
    });
    return true;
}

bool CPortEngine::ModifyPort(int vspId, const CVSPDataBasic& page) {
    CUserNotifier& notifier = m_ports.Notifier();
    CVSPDataEx* port = m_ports.Find(vspId);
    if (!port) {
        notifier.ShowError(engine_text::SelectPort);
        return false;
    }
    if (m_job.IsSet()) {
        notifier.ShowError(engine_text::JobInProgress);
        return false;
    }
    if (!ValidatePort(page))
        return false;
    port->CopyConfiguration(page);
    m_ports.Store().SavePort(*port);
    ApplyPort(*port, APPLY_MODIFY);
    m_ports.UpdateRow(*port);
    return true;
}

bool CPortEngine::ValidatePort(const CVSPDataBasic& scratch) {
    const char* failure = nullptr;
    const int mode = scratch.VspMode;
    if ((mode == VSP_MODE_TCP_CLIENT || mode == VSP_MODE_UDP) && scratch.PeerName.empty())
        failure = engine_text::EnterHost;
    if (!failure && (mode == VSP_MODE_TCP_SERVER || mode == VSP_MODE_UDP)) {
        for (int row = 0; row < m_ports.Rows().RowCount() && !failure; ++row) {
            const CVSPDataEx* other = m_ports.AtRow(row);
            if (!other || other->PortName == scratch.PortName || other->VspMode != mode ||
                other->LocalPort != scratch.LocalPort)
                continue;
            if (mode == VSP_MODE_UDP || other->TcpServerType == scratch.TcpServerType)
                failure = engine_text::DuplicatedLocalPort;
        }
    }
    if (!failure && scratch.TelComUse == 1) {
        if (mode == VSP_MODE_UDP)
            failure = engine_text::TelComWithUdp;
        else if (scratch.SSLUse == 1)
            failure = engine_text::TelComWithSsl;
    }
    if (!failure && scratch.TelComUse != 1 && scratch.SSLUse == 1 && mode == VSP_MODE_UDP)
        failure = engine_text::SslWithUdp;
    if (failure)
        m_ports.Notifier().ShowError(failure);
    return failure == nullptr;
}

// --- taking ports down ---

bool CPortEngine::DeleteCheckedPorts() {
    CUserNotifier& notifier = m_ports.Notifier();
    const int checked = m_ports.Rows().CheckedCount();
    if (checked == 0) {
        notifier.ShowError(engine_text::SelectCheckbox);
        return false;
    }
    if (m_job.IsSet()) {
        notifier.ShowError(engine_text::JobInProgress);
        return false;
    }
    if (!notifier.AskYesNo(engine_text::ConfirmDeleteChecked))
        return false;
    StartDeletionJob(checked);
    return true;
}

bool CPortEngine::DeleteAllPorts() {
    CUserNotifier& notifier = m_ports.Notifier();
    if (m_job.IsSet()) {
        notifier.ShowError(engine_text::JobInProgress);
        return false;
    }
    if (!notifier.AskYesNo(engine_text::ConfirmDeleteAll))
        return false;
    CPortListModel& rows = m_ports.Rows();
    for (int row = 0; row < rows.RowCount(); ++row)
        rows.SetChecked(row, true);
    if (rows.RowCount() == 0)
        return false;
    StartDeletionJob(rows.RowCount());
    return true;
}

void CPortEngine::StartDeletionJob(int checkedCount) {
    m_ports.Notifier().ShowProgressPanel(engine_text::DeletingPort, checkedCount);
    m_ports.Notifier().ShowMessageDialog(engine_text::DeletingPort);
    m_ports.BatchJob = 1;
    m_job.Start([this, checkedCount] { RunDeletion(checkedCount); });
}

CPortEngine::DeletionStep CPortEngine::NextDeletionStep(int row, int& vspId, std::string& portName) {
    CPortListModel& rows = m_ports.Rows();
    if (row >= rows.RowCount())
        return DeletionStep::EndOfRows;
    if (!rows.IsChecked(row))
        return DeletionStep::Unchecked;
    CVSPDataEx* port = m_ports.AtRow(row);
    if (!port) {
        rows.SetChecked(row, false);
        return DeletionStep::Skipped;
    }
    if (port->SockState == VSP_SOCKET_CONNECTING)
        return DeletionStep::Waiting;
    if (port->IsOpened() == 1) {
        rows.SetChecked(row, false);
        return DeletionStep::Skipped;
    }
    if (port->Bypass == 1)
        ClearBypassPair(*port);
    vspId = port->VspId;
    portName = port->PortName;
    return DeletionStep::Delete;
}

void CPortEngine::ClearBypassPair(CVSPDataEx& port) {
    if (CVSPDataEx* partner = m_ports.FindByPortName(port.BypassPortName)) {
        partner->Bypass = 0;
        partner->BypassPortName.clear();
        partner->BypassPeer = nullptr;
        m_ports.Store().SavePort(*partner);
        m_ports.UpdateRow(*partner);
    }
    port.Bypass = 0;
    port.BypassPortName.clear();
    port.BypassPeer = nullptr;
}

void CPortEngine::RunDeletion(int checkedCount) {
    int settled = 0;
    while (settled < checkedCount) {
        bool waited = false;
        bool restart = false;
        for (int row = 0; settled < checkedCount; ++row) {
            int vspId = 0;
            std::string portName;
            DeletionStep step = DeletionStep::EndOfRows;
            RunOnGuiThread([&] { step = NextDeletionStep(row, vspId, portName); });
            if (step == DeletionStep::EndOfRows)
                break;
            if (step == DeletionStep::Waiting) {
                JobParam notice;
                notice.text = engine_text::WaitingForConnectionEnd;
                SendJobMessage(JOB_SHOW_TEXT, notice);
                waited = true;
            } else if (step == DeletionStep::Skipped) {
                ++settled;
            } else if (step == DeletionStep::Delete) {
                DeleteDevice(vspId, portName, true);
                ++settled;
                restart = true;
                break;
            }
        }
        if (!waited && !restart)
            break; // no checked row is left to visit
        if (waited && !restart)
            std::this_thread::sleep_for(WaitingRowPause);
    }
    JobParam end;
    SendJobMessage(JOB_DELETION_END, end);
}

void CPortEngine::DeleteDevice(int vspId, const std::string& portName, bool forgetInStore) {
    CVSPDataEx* port = nullptr;
    RunOnGuiThread([&] { port = m_ports.Find(vspId); });
    // The record lives until the GUI thread handles the deletion message below.
    if (CVsportax1* device = port ? port->Control() : nullptr)
        port->PortLog().WriteSystemText("m_vsp_ax.Delete [%d]\r\n", device->Delete());
    JobParam param;
    param.vspId = vspId;
    SendJobMessage(JOB_DELETE_RECORD, param);
    if (forgetInStore)
        m_ports.Store().DeletePortKey(portName);
}

void CPortEngine::DeletePortRecord(int vspId) {
    CVSPDataEx* port = m_ports.Find(vspId);
    if (!port)
        return;
    port->PortLog().WriteSystemText("Delete VSP\r\n");
    if (port->LogData == 1)
        port->PortLog().CloseDataLog();
    port->SockState = VSP_SOCKET_NOT_CONNECTED;
    port->Link().CloseSocket();
    std::unique_ptr<CVSPDataBasic> record = m_ports.Table().Unregister(vspId);
    record.reset();
    m_ports.Table().ReleaseId(vspId);
    m_ports.Rows().RemoveRowOf(vspId);
    if (m_ports.BatchJob != 1)
        emit SetupPagesRefresh();
}

bool CPortEngine::DeleteAllAtExit() {
    if (m_job.IsSet()) {
        m_ports.Notifier().ShowError(engine_text::JobInProgress);
        return false;
    }
    if (m_ports.Rows().RowCount() == 0) {
        emit ExitFinished();
        return true;
    }
    m_ports.Notifier().ShowProgressPanel(engine_text::ClosingProgram, m_ports.Rows().RowCount());
    m_ports.Notifier().ShowMessageDialog(engine_text::ClosingProgram);
    m_ports.BatchJob = 1;
    m_job.Start([this] { RunExit(); });
    return true;
}

void CPortEngine::RunExit() {
    for (;;) {
        int vspId = 0;
        bool rowsLeft = false;
        RunOnGuiThread([&] {
            rowsLeft = m_ports.Rows().RowCount() > 0;
            if (!rowsLeft)
                return;
            vspId = m_ports.Rows().VspIdAt(0);
            CVSPDataEx* port = m_ports.Find(vspId);
            if (!port) {
                m_ports.Rows().RemoveRowOf(vspId);
                vspId = 0;
            } else if (port->SockState == VSP_SOCKET_CONNECTING) {
                // A pending connect would hold the exit for as long as the system tries to connect.
                port->Link().CloseSocket();
                port->SockState = VSP_SOCKET_NOT_CONNECTED;
            }
        });
        if (!rowsLeft)
            break;
        if (vspId != 0)
            DeleteDevice(vspId, {}, false);
    }
    JobParam end;
    SendJobMessage(JOB_EXIT_END, end);
}

// --- start, stop and the managers' switches ---

void CPortEngine::StopPort(int vspId) {
    CVSPDataEx* port = m_ports.Find(vspId);
    if (!port)
        return;
    CUserNotifier& notifier = m_ports.Notifier();
    const bool logs = port->LogData == 1;
    if (port->VspState == VSP_STOP) {
        if (logs)
            port->PortLog().WriteDataText("The port is already in VSP_STOP state.");
        notifier.ShowWarning(engine_text::AlreadyStopped);
        return;
    }
    if (port->SockState != VSP_SOCKET_CONNECTING) {
        port->SockState = VSP_SOCKET_NOT_CONNECTED;
        if (logs)
            port->PortLog().WriteDataText(port->SSLUse == 1 ? "The port's TCP(SSL) will be closed."
                                                            : "The port's TCP will be closed.");
        port->Link().CloseSocket();
        port->VspState = VSP_STOP;
        m_ports.UpdateRow(*port);
        return;
    }
    notifier.HideProgressPanel();
    notifier.ShowMessageDialog(engine_text::WaitingForConnectionEnd);
    port->VspState = VSP_STOP;
    if (logs)
        port->PortLog().WriteDataText("The port's TCP is in else condition.");
}

void CPortEngine::StartPort(int vspId) {
    CVSPDataEx* port = m_ports.Find(vspId);
    if (!port)
        return;
    CUserNotifier& notifier = m_ports.Notifier();
    const bool logs = port->LogData == 1;
    if (port->VspState != VSP_STOP) {
        if (logs)
            port->PortLog().WriteDataText("The port is not in VSP_STOP state.");
        notifier.ShowWarning(engine_text::AlreadyStarted);
        return;
    }
    if (port->SockState == VSP_SOCKET_NOT_CONNECTED || port->SockState == VSP_SOCKET_ERROR) {
        ApplyPort(*port, APPLY_MODIFY);
        return;
    }
    if (logs)
        port->PortLog().WriteDataText(
            "The port's TCP is not in VSP_SOCKET_NOT_CONNECTED or VSP_SOCKET_ERROR state.");
    notifier.ShowWarning(engine_text::SocketNotClosed);
}

void CPortEngine::SetBypassPair(bool make, const std::string& first, const std::string& second) {
    CVSPDataEx* a = m_ports.FindByPortName(first);
    CVSPDataEx* b = m_ports.FindByPortName(second);
    if (!a || !b)
        return;
    a->Bypass = b->Bypass = make ? 1 : 0;
    a->BypassPortName = make ? b->PortName : std::string();
    b->BypassPortName = make ? a->PortName : std::string();
    a->BypassPeer = make ? b : nullptr;
    b->BypassPeer = make ? a : nullptr;
    m_ports.Store().SavePort(*a);
    m_ports.Store().SavePort(*b);
    m_ports.UpdateRow(*a);
    m_ports.UpdateRow(*b);
    m_pump.RequestPass();
}

void CPortEngine::SetLogFiles(bool on, const std::string& portName) {
    CVSPDataEx* port = m_ports.FindByPortName(portName);
    if (!port)
        return;
    port->LogData = port->LogSystem = on ? 1 : 0;
    if (on) {
        port->PortLog().OpenDataLog(port->PortName);
        port->PortLog().OpenSystemLog(port->PortName);
    } else {
        port->PortLog().CloseDataLog();
        port->PortLog().CloseSystemLog();
    }
    m_ports.Store().SavePort(*port);
}

void CPortEngine::SetStrictBaudrate(bool on, const std::string& portName) {
    m_router.SetStrictBaudrate(on, portName);
}

// --- events of the virtual ports and the links ---

void CPortEngine::OnOpenClose(int id, int opened) {
    m_router.OnOpenClose(id, opened);
    m_pump.RequestPass();
}

void CPortEngine::OnBaudRate(int id, int baud) {
    m_router.OnBaudRate(id, baud);
}

void CPortEngine::OnLineControl(int id, int stopBits, int parity, int wordLength) {
    m_router.OnLineControl(id, stopBits, parity, wordLength);
}

void CPortEngine::OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit) {
    m_router.OnFlowControl(id, handshake, flowReplace, xonLimit, xoffLimit);
    m_pump.RequestPass();
}

void CPortEngine::OnRTS(int id, int level) {
    m_router.OnRTS(id, level);
    m_pump.RequestPass();
}

void CPortEngine::OnDTR(int id, int level) {
    m_router.OnDTR(id, level);
    m_pump.RequestPass();
}

void CPortEngine::OnBreak(int id, int on) {
    m_router.OnBreak(id, on);
}

void CPortEngine::OnDeviceReady(int id) {
    m_pump.RequestPass(id);
}

void CPortEngine::OnLinkMessage(int message, int vspId, long lParam) {
    m_supervisor.OnLinkMessage(message, vspId, lParam);
    m_pump.RequestPass();
}

void CPortEngine::OnLinkReady(int id) {
    m_pump.RequestPass(id);
}
