#pragma once

#include "CInstanceLock.h"
#include "CRegistryDatabase.h"
#include "CRegistryStore.h"
#include "CVSPLog.h"

#include <memory>

// What the program does before its main loop: take the single-instance lock, open the store, settle the
// language and tray options, copy the older store on a first start and open the program log. It owns
// what it opened for the life of the program.
class CStartSequence {
public:
    static constexpr const char* ALREADY_RUNNING = "An Tolvex is already running.";
    static constexpr const char* PROGRAM_LOG_PREFIX = "TOLVEX";

    CStartSequence() = default;
    CStartSequence(const CStartSequence&) = delete;
    CStartSequence& operator=(const CStartSequence&) = delete;

    // False when the program must end now (another instance runs); what went wrong is on stderr.
    bool Run();

    // Set when the store did not exist at this start and the older store did.
    bool FirstStart() const { return m_firstStart; }
    int UiLanguage() const { return m_uiLanguage; }
    int TrayMode() const { return m_trayMode; }
    CRegistryStore& Store() { return *m_store; }
    CVSPLog& ProgramLog() { return m_programLog; }

private:
    bool TakeInstanceLock();
    void OpenStore();
    void SettleOptions();
    void OpenProgramLog();

    CInstanceLock m_instanceLock;
    std::unique_ptr<CRegistryDatabase> m_database;
    std::unique_ptr<CRegistryStore> m_store;
    CVSPLog m_programLog;
    bool m_firstStart = false;
    int m_uiLanguage = 0;
    int m_trayMode = -1;
};
