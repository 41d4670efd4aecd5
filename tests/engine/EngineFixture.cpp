#include "EngineFixture.h"

#include <cstdlib>
#include <filesystem>

std::unique_ptr<CVSPDataBasic> PortSettings::Page() const {
    auto page = std::make_unique<CVSPDataBasic>();
    page->PortName = PortName;
    page->VspMode = VspMode;
    page->PeerName = PeerName;
    page->PeerPort = PeerPort;
    page->LocalPort = LocalPort;
    page->TcpServerType = TcpServerType;
    page->SSLUse = SSLUse;
    page->TelComUse = TelComUse;
    page->LogData = LogData;
    page->LogSystem = LogSystem;
    page->Bypass = Bypass;
    page->BypassPortName = BypassPortName;
    page->PortComments = PortComments;
    return page;
}

void EngineTest::SetUp() {
    ASSERT_TRUE(m_folder.isValid());
    const std::string root = m_folder.path().toStdString();
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    m_portDirectory = root + "/ports";
    std::filesystem::create_directories(m_portDirectory);
    m_database = std::make_unique<CRegistryDatabase>(root + "/registry.db");
    m_store = std::make_unique<CRegistryStore>(*m_database);
    m_programLog = std::make_unique<CVSPLog>(root + "/logs");
    m_programLog->OpenSystemLog("TOLVEX");
}

void EngineTest::TearDown() {
    m_engine.reset();
}

void EngineTest::MakeEngine(CPortEngine::ControlFactory factory) {
    if (!factory)
        factory = CPortEngine::PtyPorts(m_portDirectory);
    m_engine = std::make_unique<CPortEngine>(*m_store, *m_programLog, m_notifier, std::move(factory));
}

PortSettings EngineTest::ClientSettings(const std::string& name, int peerPort) {
    PortSettings settings;
    settings.PortName = name;
    settings.VspMode = VSP_MODE_TCP_CLIENT;
    settings.PeerName = "127.0.0.1";
    settings.PeerPort = peerPort;
    return settings;
}

PortSettings EngineTest::ServerSettings(const std::string& name, int localPort) {
    PortSettings settings;
    settings.PortName = name;
    settings.VspMode = VSP_MODE_TCP_SERVER;
    settings.LocalPort = localPort;
    return settings;
}

PortSettings EngineTest::UdpSettings(const std::string& name, int peerPort, int localPort) {
    PortSettings settings = ClientSettings(name, peerPort);
    settings.VspMode = VSP_MODE_UDP;
    settings.LocalPort = localPort;
    return settings;
}

CVSPDataEx* EngineTest::Create(const PortSettings& settings) {
    if (!m_engine->CreatePort(*settings.Page()))
        return nullptr;
    if (!WaitFor([&] { return !m_engine->JobInProgress(); }))
        return nullptr;
    return m_engine->FindByPortName(settings.PortName);
}

std::string EngineTest::LinkPath(const std::string& portName) const {
    return m_portDirectory + "/" + portName;
}

std::string EngineTest::RowText(const CVSPDataEx& port, int column) const {
    const CPortListModel& rows = m_engine->Rows();
    return rows.data(rows.index(rows.RowOf(port.VspId), column)).toString().toStdString();
}

bool EngineTest::WaitForSockState(const CVSPDataEx& port, int state, int timeoutMs) const {
    return WaitFor([&] { return port.SockState == state; }, timeoutMs);
}

bool EngineTest::WaitForOpened(const CVSPDataEx& port) const {
    return WaitFor([&] { return port.VspState == VSP_OPENED; });
}
