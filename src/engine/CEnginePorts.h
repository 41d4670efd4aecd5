#pragma once

#include "CPortListModel.h"
#include "CVSPDataList.h"

#include <string>

class CVSPDataEx;
class CVSPLog;
class CUserNotifier;
class CRegistryStore;

// What every part of the engine shares: the port table, the rows of the port list, the store, the
// program-wide log, the notifier and the batch flag. Used on the GUI thread.
class CEnginePorts {
public:
    CEnginePorts(CRegistryStore& store, CVSPLog& programLog, CUserNotifier& notifier);

    CVSPDataList& Table() { return m_table; }
    CPortListModel& Rows() { return m_rows; }
    CRegistryStore& Store() { return m_store; }
    CVSPLog& ProgramLog() { return m_programLog; }
    CUserNotifier& Notifier() { return m_notifier; }

    // The registered port of an id; nullptr for ids outside the control range or not registered.
    CVSPDataEx* Find(int vspId) const;
    CVSPDataEx* FindByPortName(const std::string& name) const;
    // The port of a row in display order, nullptr when the row's id names none.
    CVSPDataEx* AtRow(int row) const;

    // Rewrites the port's row from its current state.
    void UpdateRow(CVSPDataEx& port);

    // 1 while a deletion of several ports, the exit, a restore or a script import runs.
    int BatchJob = 0;
    // 1 while a restore or script import waits for its deletion stage to end.
    int RestorePending = 0;

private:
    CRegistryStore& m_store;
    CVSPLog& m_programLog;
    CUserNotifier& m_notifier;
    CVSPDataList m_table;
    CPortListModel m_rows;
};
