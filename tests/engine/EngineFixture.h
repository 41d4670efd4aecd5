#pragma once

#include "CPortEngine.h"
#include "CRegistryDatabase.h"
#include "CRegistryStore.h"
#include "CUserNotifier.h"
#include "CVSPDataEx.h"
#include "CVSPLog.h"
#include "LoopbackKit.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Keeps what the engine would have shown; questions get the answer set beforehand.
class RecordingNotifier : public CUserNotifier {
public:
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void ShowNotice(const std::string& text) override { notices.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void ShowProgressPanel(const std::string&, int) override {}
    void AdvanceProgress() override {}
    void HideProgressPanel() override {}
    void ShowMessageDialog(const std::string& text) override { dialog = text; }
    void HideMessageDialog() override { dialog.clear(); }

    std::vector<std::string> errors, warnings, notices, questions;
    std::string dialog;
    bool answer = true;
};

// The settings a setup page holds, copyable so that tests can vary them.
struct PortSettings {
    std::string PortName;
    int VspMode = VSP_MODE_TCP_CLIENT;
    std::string PeerName = "127.0.0.1";
    int PeerPort = 1470;
    int LocalPort = 1470;
    int TcpServerType = 0;
    int SSLUse = 0;
    int TelComUse = 0;
    int LogData = 0;
    int LogSystem = 0;
    int Bypass = 0;
    std::string BypassPortName;
    std::string PortComments;

    // A page record with these settings.
    std::unique_ptr<CVSPDataBasic> Page() const;
};

// An engine on a store, program log and port directory of its own, in a temporary folder that is also
// the home folder (so the ports' logs land there too).
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the engine; the factory is pseudo-terminal ports unless a test gives its own.
    void MakeEngine(CPortEngine::ControlFactory factory = {});

    static PortSettings ClientSettings(const std::string& name, int peerPort);
    static PortSettings ServerSettings(const std::string& name, int localPort);
    static PortSettings UdpSettings(const std::string& name, int peerPort, int localPort);

    // Creates the port as the Create page does and waits until it is registered.
    CVSPDataEx* Create(const PortSettings& settings);
    std::string LinkPath(const std::string& portName) const;
    std::string RowText(const CVSPDataEx& port, int column) const;
    bool WaitForSockState(const CVSPDataEx& port, int state, int timeoutMs = 5000) const;
    bool WaitForOpened(const CVSPDataEx& port) const;
    int RowOf(const CVSPDataEx& port) const { return m_engine->Rows().RowOf(port.VspId); }

    QTemporaryDir m_folder;
    std::string m_portDirectory;
    std::unique_ptr<CRegistryDatabase> m_database;
    std::unique_ptr<CRegistryStore> m_store;
    std::unique_ptr<CVSPLog> m_programLog;
    RecordingNotifier m_notifier;
    std::unique_ptr<CPortEngine> m_engine;
};
