#include "EngineFixture.h"

#include "CPortListModel.h"

#include <filesystem>

TEST_F(EngineTest, SyncPortFollowsItsApplicationsOpenAndClose) {
    MakeEngine();
    PortSettings settings = ServerSettings("COM3", FreeTcpPort());
    CVSPDataEx* port = nullptr;
    {
        auto page = settings.Page();
        page->Sync = 1;
        ASSERT_TRUE(m_engine->CreatePort(*page));
        ASSERT_TRUE(WaitFor([&] { return !m_engine->JobInProgress(); }));
        port = m_engine->FindByPortName("COM3");
    }
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);

    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn).rfind("[Listening]", 0), 0u);
    application.Close();
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_NOT_CONNECTED));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn).rfind("[Not Connected]", 0), 0u);
    // Nobody holds the port: supervision does not reopen it.
    m_engine->Supervisor().SupervisionTick();
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);
}

TEST_F(EngineTest, LogSwitchOpensAndClosesBothFilesAndIsSaved) {
    MakeEngine();
    CVSPDataEx* port = Create(ServerSettings("COM3", FreeTcpPort()));
    ASSERT_NE(port, nullptr);

    m_engine->SetLogFiles(true, "com3");
    EXPECT_TRUE(port->PortLog().IsDataLogOpen());
    EXPECT_TRUE(port->PortLog().IsSystemLogOpen());
    EXPECT_TRUE(std::filesystem::exists(port->PortLog().DataLogPath()));
    CVSPDataBasic stored;
    m_store->ReadPort("COM3", stored);
    EXPECT_EQ(stored.LogData, 1);
    EXPECT_EQ(stored.LogSystem, 1);

    m_engine->SetLogFiles(false, "COM3");
    EXPECT_FALSE(port->PortLog().IsDataLogOpen());
    EXPECT_FALSE(port->PortLog().IsSystemLogOpen());
    m_store->ReadPort("COM3", stored);
    EXPECT_EQ(stored.LogData, 0);
}

TEST_F(EngineTest, BaudRateEmulationSwitchIsSavedAndLogged) {
    MakeEngine();
    CVSPDataEx* port = Create(ServerSettings("COM3", FreeTcpPort()));
    ASSERT_NE(port, nullptr);
    port->PortLog().OpenSystemLog("COM3");

    m_engine->SetStrictBaudrate(true, "COM3");
    EXPECT_EQ(port->StrictBaudrate, 1);
    CVSPDataBasic stored;
    m_store->ReadPort("COM3", stored);
    EXPECT_EQ(stored.StrictBaudrate, 1);
    EXPECT_NE(ReadWholeFile(port->PortLog().SystemLogPath()).find("SetStrictBaudrate : [ON] [SUCCESS]\r\n"),
              std::string::npos);
    EXPECT_TRUE(m_notifier.errors.empty());
    // An unknown name changes nothing.
    m_engine->SetStrictBaudrate(false, "COM99");
    EXPECT_EQ(port->StrictBaudrate, 1);
}

TEST_F(EngineTest, AListenerMayStartTheNextJobWhenOneEnds) {
    MakeEngine();
    CVSPDataEx* port = Create(ServerSettings("COM3", FreeTcpPort()));
    ASSERT_NE(port, nullptr);
    m_engine->Rows().SetChecked(RowOf(*port), true);
    const PortSettings next = ServerSettings("COM4", FreeTcpPort());
    QObject::connect(m_engine.get(), &CPortEngine::DeletionFinished,
                     [&] { EXPECT_TRUE(m_engine->CreatePort(*next.Page())); });

    ASSERT_TRUE(m_engine->DeleteCheckedPorts());
    EXPECT_TRUE(
        WaitFor([&] { return m_engine->FindByPortName("COM4") != nullptr && !m_engine->JobInProgress(); }));
    EXPECT_EQ(m_engine->FindByPortName("COM3"), nullptr);
}
