#include "CRegistryStore.h"

#include <arpa/inet.h>

namespace {

bool IsPortKeyName(const std::string& name) {
    return name.compare(0, 3, "COM") == 0;
}

// A port name that is empty or holds a separator would address the root or a key below another port.
bool IsSingleKeyName(const std::string& name) {
    return !name.empty() && name.find('\\') == std::string::npos;
}

std::string DottedAddress(uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

CRegistryStore::CRegistryStore(CRegistryDatabase& database) : m_database(database) {}

std::string CRegistryStore::SubkeyPath(const std::string& name) {
    return std::string(ROOT_KEY) + "\\" + name;
}

std::string CRegistryStore::OptionsPath() {
    return SubkeyPath(OPTIONS_KEY);
}

bool CRegistryStore::RootExists() {
    return m_database.KeyExists(ROOT_KEY);
}

bool CRegistryStore::OlderStoreExists() {
    return m_database.KeyExists(OLDER_ROOT_KEY);
}

std::vector<std::string> CRegistryStore::PortKeysOf(const std::string& path) {
    std::vector<std::string> names;
    for (int index = 0;; ++index) {
        std::optional<std::string> name = m_database.EnumerateSubkey(path, index);
        if (!name)
            break;
        if (IsPortKeyName(*name))
            names.push_back(*name);
    }
    return names;
}

int CRegistryStore::CountPortKeys() {
    return static_cast<int>(PortKeyNames().size());
}

std::vector<std::string> CRegistryStore::PortKeyNames() {
    return PortKeysOf(ROOT_KEY);
}

void CRegistryStore::ReadPort(const std::string& keyName, CVSPDataBasic& record) {
    const std::string path = SubkeyPath(keyName);
    auto readInt = [&](const char* name, uint32_t defaultValue) {
        return static_cast<int32_t>(m_database.ReadDword(path, name, defaultValue));
    };
    record.PortName = m_database.ReadString(path, "PortName", "");
    record.PortComments = m_database.ReadString(path, "PortComments", "");
    record.AutoStart = readInt("AutoStart", 1);
    record.SSLUse = readInt("SSLUse", 0);
    record.KeepAlive = readInt("KeepAlive", 0);
    record.LogData = readInt("LogData", 0);
    record.LogSystem = readInt("LogSystem", 0);
    record.Sync = readInt("Sync", 0);
    record.Bypass = readInt("Bypass", 0);
    record.BypassPortName = m_database.ReadString(path, "BypassPortName", "");
    record.StrictBaudrate = readInt("StrictBaudrate", 0);
    record.TelComUse = readInt("TelComUse", 0);
    record.VspMode = readInt("VspMode", 0);
    record.TcpServerType = readInt("TcpServerType", 0);
    record.PeerIp = htonl(m_database.ReadDword(path, "PeerIp_DWORD", 0));
    record.PeerName = m_database.ReadString(path, "PeerName", "");
    if (record.PeerName.empty())
        record.PeerName = m_database.ReadString(path, "PeerIp_STR", "");
    record.PeerPort = readInt("PeerPort", 1470);
    record.LocalPort = readInt("LocalPort", 1470);
}

void CRegistryStore::SavePort(const CVSPDataBasic& record) {
    if (!IsSingleKeyName(record.PortName))
        return;
    auto dword = [](const char* name, int32_t value) {
        return CRegistryValue::Dword(name, static_cast<uint32_t>(value));
    };
    m_database.WriteValues(SubkeyPath(record.PortName),
                           {
                               dword("VspId", record.VspId),
                               CRegistryValue::String("PortName", record.PortName),
                               CRegistryValue::String("PortComments", record.PortComments),
                               dword("AutoStart", record.AutoStart),
                               dword("SSLUse", record.SSLUse),
                               dword("KeepAlive", 1),
                               dword("TelComUse", record.TelComUse),
                               dword("LogData", record.LogData),
                               dword("LogSystem", record.LogSystem),
                               dword("Sync", record.Sync),
                               dword("Bypass", record.Bypass),
                               CRegistryValue::String("BypassPortName", record.BypassPortName),
                               dword("StrictBaudrate", record.StrictBaudrate),
                               dword("VspMode", record.VspMode),
                               dword("TcpServerType", record.TcpServerType),
                               CRegistryValue::String("PeerIp_STR", DottedAddress(record.PeerIp)),
                               CRegistryValue::Dword("PeerIp_DWORD", ntohl(record.PeerIp)),
                               dword("PeerPort", record.PeerPort),
                               dword("LocalPort", record.LocalPort),
                               dword("IpOrName", 0),
                               CRegistryValue::String("PeerName", record.PeerName),
                           });
}

void CRegistryStore::DeletePortKey(const std::string& portName) {
    if (IsSingleKeyName(portName))
        m_database.DeleteKey(SubkeyPath(portName));
}

uint32_t CRegistryStore::ReadOption(const std::string& name, uint32_t defaultValue) {
    m_database.CreateKey(OptionsPath());
    return m_database.ReadDword(OptionsPath(), name, defaultValue);
}

void CRegistryStore::WriteOption(const std::string& name, uint32_t value) {
    m_database.WriteDword(OptionsPath(), name, value);
}

void CRegistryStore::MigrateOlderStore() {
    for (const std::string& keyName : PortKeysOf(OLDER_ROOT_KEY)) {
        const std::string olderPath = std::string(OLDER_ROOT_KEY) + "\\" + keyName;
        std::vector<CRegistryValue> copied;
        const int count = m_database.ValueCount(olderPath);
        for (int index = 0; index < count; ++index) {
            std::optional<CRegistryValue> value = m_database.EnumerateValue(olderPath, index);
            if (value && (value->AsString() || value->AsDword()))
                copied.push_back(std::move(*value));
        }
        if (!copied.empty())
            m_database.WriteValues(SubkeyPath(keyName), copied);
    }
}
