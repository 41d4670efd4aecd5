#include "CVSPDataList.h"

#include <algorithm>

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

} // namespace

CVSPDataList::~CVSPDataList() {
    DestroyAll();
}

int CVSPDataList::AllocateId() {
    std::lock_guard guard(m_lock);
    for (int index = 0; index < VSP_ID_COUNT; ++index) {
        if (!m_idInUse[index]) {
            m_idInUse[index] = true;
            return VSP_ID_FIRST + index;
        }
    }
    return -1;
}

void CVSPDataList::ReleaseId(int id) {
    std::lock_guard guard(m_lock);
    if (id >= VSP_ID_FIRST && id <= VSP_ID_LAST)
        m_idInUse[id - VSP_ID_FIRST] = false;
}

void CVSPDataList::Register(std::unique_ptr<CVSPDataBasic> record) {
    if (!record)
        return;
    std::unique_ptr<CVSPDataBasic> replaced;
    {
        std::lock_guard guard(m_lock);
        std::unique_ptr<CVSPDataBasic>& slot = m_ports[record->VspId];
        if (slot) {
            ForgetPartner(slot.get());
            replaced = std::move(slot);
        }
        slot = std::move(record);
    }
    // Destroyed outside the lock: a record's destructor may close sockets and logs.
}

CVSPDataBasic* CVSPDataList::Lookup(int id) const {
    std::lock_guard guard(m_lock);
    auto found = m_ports.find(id);
    return found == m_ports.end() ? nullptr : found->second.get();
}

std::unique_ptr<CVSPDataBasic> CVSPDataList::Unregister(int id) {
    std::lock_guard guard(m_lock);
    auto found = m_ports.find(id);
    if (found == m_ports.end())
        return nullptr;
    std::unique_ptr<CVSPDataBasic> record = std::move(found->second);
    m_ports.erase(found);
    ForgetPartner(record.get());
    return record;
}

CVSPDataBasic* CVSPDataList::FindByPortName(const std::string& name) const {
    std::lock_guard guard(m_lock);
    for (const auto& [id, record] : m_ports) {
        if (EqualIgnoringAsciiCase(record->PortName, name))
            return record.get();
    }
    return nullptr;
}

void CVSPDataList::DestroyAll() {
    std::map<int, std::unique_ptr<CVSPDataBasic>> destroyed;
    {
        std::lock_guard guard(m_lock);
        for (auto& [id, record] : m_ports)
            record->BypassPeer = nullptr;
        destroyed.swap(m_ports);
        m_idInUse.fill(false);
    }
}

std::vector<CVSPDataBasic*> CVSPDataList::Records() const {
    std::lock_guard guard(m_lock);
    std::vector<CVSPDataBasic*> records;
    records.reserve(m_ports.size());
    for (const auto& [id, record] : m_ports)
        records.push_back(record.get());
    return records;
}

void CVSPDataList::ForgetPartner(const CVSPDataBasic* record) {
    for (auto& [id, other] : m_ports) {
        if (other->BypassPeer == record)
            other->BypassPeer = nullptr;
    }
}
