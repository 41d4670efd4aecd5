#pragma once

#include "CDataPump.h"
#include "CEnginePorts.h"
#include "CJobThread.h"
#include "CLinkMessageSink.h"
#include "CLinkSupervisor.h"
#include "CSerialEventRouter.h"
#include "CVsportax1.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class CRegistryStore;
class CUserNotifier;
class CVSPDataEx;
class CVSPLog;

// The ports at work: brings them into being from the store or a request, binds them to their virtual
// ports, applies changed settings, starts and stops their links, runs the data pump and the supervision,
// and takes the ports down again. Long steps run as jobs on one worker thread, which reaches the GUI
// thread only through blocking job messages. Lives on the GUI thread; the windows only display its rows.
class CPortEngine : public QObject, private CVsportEvents, private CLinkMessageSink {
    Q_OBJECT
public:
    static constexpr int SupervisionPeriodMs = 5000;

    // Codes of the job message by which a worker hands a step to the GUI thread.
    enum JobCode {
        JOB_REGISTER = 0,
        JOB_DELETE_RECORD = 1,
        JOB_DELETION_END = 2,
        JOB_EXIT_END = 3,
        JOB_SHOW_TEXT = 4,
        JOB_LOAD_END = 5,
        JOB_CREATE_CONTROL = 9,
        JOB_SINGLE_CREATE_END = 10,
    };

    enum ApplyKind { APPLY_CREATE = 0, APPLY_MODIFY = 1, APPLY_START = 4 };

    // Makes the virtual port of a control id, raising its events to the engine; nullptr when it failed.
    using ControlFactory = std::function<std::unique_ptr<CVsportax1>(int controlId, CVsportEvents& events)>;
    // Pseudo-terminal ports, as links named after the ports in `portDirectory`.
    static ControlFactory PtyPorts(std::string portDirectory);

    CPortEngine(CRegistryStore& store, CVSPLog& programLog, CUserNotifier& notifier,
                ControlFactory makeControl, QObject* parent = nullptr);
    ~CPortEngine() override;

    // Starts the supervision and, when the store holds ports, the job that loads them.
    void Start();

    CPortListModel& Rows() { return m_ports.Rows(); }
    CVSPDataList& Table() { return m_ports.Table(); }
    CVSPDataEx* Find(int vspId) const { return m_ports.Find(vspId); }
    CVSPDataEx* FindByPortName(const std::string& name) const { return m_ports.FindByPortName(name); }
    bool JobInProgress() const { return m_job.IsSet(); }
    int BatchJob() const { return m_ports.BatchJob; }
    CDataPump& Pump() { return m_pump; }
    CLinkSupervisor& Supervisor() { return m_supervisor; }

    // The stored ports, one by one, on the worker.
    void LoadAllPorts();
    // A new port with the settings of the Create page; false when refused.
    bool CreatePort(const CVSPDataBasic& page);
    // The settings of the Edit page to the port; false when refused (the page then shows the port again).
    bool ModifyPort(int vspId, const CVSPDataBasic& page);
    // Shows the first rule the settings break; true when they break none.
    bool ValidatePort(const CVSPDataBasic& scratch);
    // Deletes the ports whose check boxes are set, after the user agreed; ports in use stay, unchecked.
    bool DeleteCheckedPorts();
    // Sets every check box and deletes, after the user agreed.
    bool DeleteAllPorts();
    // Deletes every port's device at exit, leaving the store as it is; ExitFinished follows. Refused (false)
    // while a job runs.
    bool DeleteAllAtExit();

    void ApplyPort(CVSPDataEx& port, ApplyKind kind);
    void StartPort(int vspId);
    void StopPort(int vspId);

    // Makes or removes the bypass pair of two named ports.
    void SetBypassPair(bool make, const std::string& first, const std::string& second);
    // Switches both log files of the named port.
    void SetLogFiles(bool on, const std::string& portName);
    // Baud-rate emulation on or off for the named port.
    void SetStrictBaudrate(bool on, const std::string& portName);

signals:
    // The setup pages should show the ports again.
    void SetupPagesRefresh();
    // The start-up load has registered every stored port.
    void LoadFinished();
    // A single create has registered its port.
    void PortCreated(int vspId);
    // A deletion job ended.
    void DeletionFinished();
    // The exit deleted every port: the program may end.
    void ExitFinished();

private:
    struct JobParam {
        std::unique_ptr<CVSPDataEx> record;
        CVSPDataEx* target = nullptr;
        int vspId = 0;
        std::string text;
    };
    // What the deletion worker does with the next row.
    enum class DeletionStep { EndOfRows, Unchecked, Waiting, Skipped, Delete };

    // CVsportEvents
    void OnOpenClose(int id, int opened) override;
    void OnBaudRate(int id, int baud) override;
    void OnLineControl(int id, int stopBits, int parity, int wordLength) override;
    void OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit) override;
    void OnRTS(int id, int level) override;
    void OnDTR(int id, int level) override;
    void OnBreak(int id, int on) override;
    void OnDeviceReady(int id) override;
    // CLinkMessageSink
    void OnLinkMessage(int message, int vspId, long lParam) override;
    void OnLinkReady(int vspId) override;

    // Runs the step on the GUI thread and waits for it.
    void RunOnGuiThread(const std::function<void()>& step);
    // The job message: a worker's step, run on the GUI thread before the worker goes on.
    void SendJobMessage(JobCode code, JobParam& param);
    void OnJobMessage(JobCode code, JobParam& param);
    // Runs the step from the event loop once the ending job's last message has been handled.
    void AfterJobEnded(std::function<void()> step);

    // Worker steps.
    std::unique_ptr<CVSPDataEx> NewRecord();
    int make_vsp_control(CVSPDataEx& port);
    void BindDevice(CVSPDataEx& port);
    void ApplyStrictBaudrate(CVSPDataEx& port);
    void RunDeletion(int checkedCount);
    void RunExit();
    DeletionStep NextDeletionStep(int row, int& vspId, std::string& portName);
    void DeleteDevice(int vspId, const std::string& portName, bool forgetInStore);

    // GUI steps.
    void CreateControlWindow(CVSPDataEx& port);
    void RegisterPort(std::unique_ptr<CVSPDataEx> port);
    void DeletePortRecord(int vspId);
    void ClearBypassPair(CVSPDataEx& port);
    void StartDeletionJob(int checkedCount);
    void RecoverMissedOpen(CVSPDataEx& port);
    void OnSupervisionTimer();

    CEnginePorts m_ports;
    ControlFactory m_makeControl;
    CSerialEventRouter m_router;
    CLinkSupervisor m_supervisor;
    CDataPump m_pump;
    QTimer m_supervisionTimer;
    CJobThread m_job;
};
