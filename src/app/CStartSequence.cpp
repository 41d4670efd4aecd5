#include "CStartSequence.h"

#include "ErrorText.h"
#include "Paths.h"
#include "UiLanguage.h"

#include <iostream>

namespace {

constexpr uint32_t OPTION_MISSING = 0xFFFFFFFF;

} // namespace

bool CStartSequence::Run() {
    if (!TakeInstanceLock())
        return false;
    OpenStore();
    SettleOptions();
    OpenProgramLog();
    return true;
}

bool CStartSequence::TakeInstanceLock() {
    switch (m_instanceLock.Acquire(tolvex_paths::RuntimeDirectory() / "Tolvex.lock")) {
    case CInstanceLock::Result::Acquired:
        return true;
    case CInstanceLock::Result::Failed:
        std::cerr << SystemErrorText(m_instanceLock.Error());
        break;
    case CInstanceLock::Result::HeldElsewhere:
        break;
    }
    std::cerr << ALREADY_RUNNING << std::endl;
    return false;
}

void CStartSequence::OpenStore() {
    m_database = std::make_unique<CRegistryDatabase>(tolvex_paths::StoreDatabasePath());
    if (!m_database->IsUsable())
        std::cerr << m_database->OpenError() << std::endl;
    m_store = std::make_unique<CRegistryStore>(*m_database);
    // Reading an option creates the root, so both stores are looked at before anything else.
    m_firstStart = !m_store->RootExists() && m_store->OlderStoreExists();
}

void CStartSequence::SettleOptions() {
    m_uiLanguage = ChooseUiLanguage(m_store->ReadOption("LANGUAGE", 0), QLocale::system().language());
    if (m_firstStart)
        m_store->MigrateOlderStore();
    uint32_t tray = m_store->ReadOption("TRAY", OPTION_MISSING);
    if (tray == OPTION_MISSING) {
        tray = 1;
        m_store->WriteOption("TRAY", tray);
    }
    m_trayMode = static_cast<int>(tray);
}

void CStartSequence::OpenProgramLog() {
    int error = m_programLog.OpenSystemLog(PROGRAM_LOG_PREFIX);
    if (error != 0)
        std::cerr << SystemErrorText(error);
    if (!m_database->IsUsable())
        m_programLog.WriteSystemText("%s", m_database->OpenError().c_str());
}
