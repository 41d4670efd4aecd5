#pragma once

#include "CVSPDataBasic.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The port table: owns every registered port record and hands out the control ids 8000..8255.
// Ids are allocated by job threads while the GUI thread registers and removes records, so both tables
// are guarded; a record pointer handed out stays valid until its record is unregistered or destroyed.
class CVSPDataList {
public:
    CVSPDataList() = default;
    CVSPDataList(const CVSPDataList&) = delete;
    CVSPDataList& operator=(const CVSPDataList&) = delete;
    ~CVSPDataList();

    // The lowest free id, now in use; -1 when all are taken.
    int AllocateId();
    void ReleaseId(int id);

    // Takes ownership under record->VspId, replacing (and destroying) a record already there.
    void Register(std::unique_ptr<CVSPDataBasic> record);
    CVSPDataBasic* Lookup(int id) const;
    // Gives the record back; no record left in the table keeps pointing at it as its bypass partner.
    std::unique_ptr<CVSPDataBasic> Unregister(int id);
    // The first record (in id order) whose PortName equals the name, ignoring ASCII case.
    CVSPDataBasic* FindByPortName(const std::string& name) const;
    // Destroys every record and frees every id.
    void DestroyAll();
    // The registered records in id order.
    std::vector<CVSPDataBasic*> Records() const;

private:
    void ForgetPartner(const CVSPDataBasic* record);

    mutable std::mutex m_lock;
    std::array<bool, VSP_ID_COUNT> m_idInUse{};
    std::map<int, std::unique_ptr<CVSPDataBasic>> m_ports;
};
