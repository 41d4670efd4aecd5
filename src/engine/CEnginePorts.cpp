#include "CEnginePorts.h"

#include "CVSPDataEx.h"
#include "PortRowText.h"

CEnginePorts::CEnginePorts(CRegistryStore& store, CVSPLog& programLog, CUserNotifier& notifier)
    : m_store(store), m_programLog(programLog), m_notifier(notifier) {}

CVSPDataEx* CEnginePorts::Find(int vspId) const {
    if (vspId < VSP_ID_FIRST || vspId > VSP_ID_LAST)
        return nullptr;
    // Every record the engine registers is a runtime record.
    return static_cast<CVSPDataEx*>(m_table.Lookup(vspId));
}

CVSPDataEx* CEnginePorts::FindByPortName(const std::string& name) const {
    return static_cast<CVSPDataEx*>(m_table.FindByPortName(name));
}

CVSPDataEx* CEnginePorts::AtRow(int row) const {
    return Find(m_rows.VspIdAt(row));
}

void CEnginePorts::UpdateRow(CVSPDataEx& port) {
    m_rows.SetRowView(port.VspId, MakePortRowView(port));
}
