#include "../platform/SqliteShell.h"
#include "../platform/TemporaryDirectory.h"
#include "CRegistryStore.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string ROOT = CRegistryStore::ROOT_KEY;
const std::string OLDER = CRegistryStore::OLDER_ROOT_KEY;

class RegistryStoreTest : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    std::filesystem::path file = directory.Path() / "registry.db";
    CRegistryDatabase database{file};
    CRegistryStore store{database};

    // The values of a key as "name|type|storage type|data", in enumeration order, read with SQL.
    std::vector<std::string> StoredValues(const std::string& path) {
        std::string keyQuery;
        std::string parentTest = "IS NULL";
        std::istringstream parts(path);
        for (std::string part; std::getline(parts, part, '\\');) {
            keyQuery = "(SELECT id FROM reg_key WHERE parent " + parentTest + " AND name = '" + part + "')";
            parentTest = "= " + keyQuery;
        }
        SqliteShell shell(file);
        return shell.Rows("SELECT name, type, typeof(data), data FROM reg_value WHERE key = " + keyQuery +
                          " ORDER BY seq");
    }
};

TEST_F(RegistryStoreTest, SaveWritesTheTwentyOneValuesInOrderWithTheirTypes) {
    CVSPDataBasic record;
    record.VspId = 8003;
    record.PortName = "COM3";
    record.PortComments = "line printer";
    record.AutoStart = 1;
    record.SSLUse = 1;
    record.KeepAlive = 0; // always stored as 1
    record.TelComUse = 0;
    record.LogData = 1;
    record.LogSystem = 1;
    record.Sync = 1;
    record.Bypass = 1;
    record.BypassPortName = "COM4";
    record.StrictBaudrate = 1;
    record.VspMode = VSP_MODE_TCP_SERVER;
    record.TcpServerType = 1;
    record.PeerName = "gateway.example";
    record.PeerIp = inet_addr("192.168.0.10");
    record.PeerPort = 4001;
    record.LocalPort = 5001;
    store.SavePort(record);

    EXPECT_EQ(StoredValues(ROOT + "\\COM3"), (std::vector<std::string>{
                                                 "VspId|4|integer|8003",
                                                 "PortName|1|text|COM3",
                                                 "PortComments|1|text|line printer",
                                                 "AutoStart|4|integer|1",
                                                 "SSLUse|4|integer|1",
                                                 "KeepAlive|4|integer|1",
                                                 "TelComUse|4|integer|0",
                                                 "LogData|4|integer|1",
                                                 "LogSystem|4|integer|1",
                                                 "Sync|4|integer|1",
                                                 "Bypass|4|integer|1",
                                                 "BypassPortName|1|text|COM4",
                                                 "StrictBaudrate|4|integer|1",
                                                 "VspMode|4|integer|1",
                                                 "TcpServerType|4|integer|1",
                                                 "PeerIp_STR|1|text|192.168.0.10",
                                                 "PeerIp_DWORD|4|integer|3232235530",
                                                 "PeerPort|4|integer|4001",
                                                 "LocalPort|4|integer|5001",
                                                 "IpOrName|4|integer|0",
                                                 "PeerName|1|text|gateway.example",
                                             }));

    CVSPDataBasic loaded;
    store.ReadPort("COM3", loaded);
    EXPECT_EQ(loaded.VspId, -1); // a loaded port gets a fresh id from the table
    EXPECT_EQ(loaded.PortComments, "line printer");
    EXPECT_EQ(loaded.KeepAlive, 1);
    EXPECT_EQ(loaded.BypassPortName, "COM4");
    EXPECT_EQ(loaded.VspMode, VSP_MODE_TCP_SERVER);
    EXPECT_EQ(loaded.PeerIp, record.PeerIp);
    EXPECT_EQ(loaded.PeerName, "gateway.example");
    EXPECT_EQ(loaded.LocalPort, 5001);
}

TEST_F(RegistryStoreTest, KeyWithOnlyPortNameLoadsTheLoadDefaults) {
    ASSERT_TRUE(database.WriteString(ROOT + "\\COM9", "PortName", "COM9"));
    CVSPDataBasic record;
    record.VspId = 8001;
    store.ReadPort("COM9", record);

    EXPECT_EQ(record.VspId, 8001);
    EXPECT_EQ(record.PortName, "COM9");
    EXPECT_EQ(record.PortComments, "");
    EXPECT_EQ(record.AutoStart, 1);
    EXPECT_EQ(record.KeepAlive, 0); // 1 in a new record, 0 when missing at load
    for (int32_t field : {record.SSLUse, record.TelComUse, record.LogData, record.LogSystem, record.Sync,
                          record.Bypass, record.StrictBaudrate, record.VspMode, record.TcpServerType})
        EXPECT_EQ(field, 0);
    EXPECT_EQ(record.BypassPortName, "");
    EXPECT_EQ(record.PeerName, "");
    EXPECT_EQ(record.PeerIp, 0u);
    EXPECT_EQ(record.PeerPort, 1470);
    EXPECT_EQ(record.LocalPort, 1470);

    store.SavePort(record);
    EXPECT_EQ(database.ReadDword(ROOT + "\\COM9", "KeepAlive", 0), 1u);
    EXPECT_EQ(database.ReadString(ROOT + "\\COM9", "PeerIp_STR", ""), "0.0.0.0");
}

TEST_F(RegistryStoreTest, PeerAddressByteOrderBothWays) {
    const uint32_t hostOrder = 0x0A000005; // 10.0.0.5
    ASSERT_TRUE(database.WriteValues(ROOT + "\\COM5", {CRegistryValue::String("PortName", "COM5"),
                                                       CRegistryValue::Dword("PeerIp_DWORD", hostOrder)}));
    CVSPDataBasic record;
    store.ReadPort("COM5", record);
    EXPECT_EQ(record.PeerIp, inet_addr("10.0.0.5"));

    store.SavePort(record);
    EXPECT_EQ(database.ReadDword(ROOT + "\\COM5", "PeerIp_DWORD", 0), hostOrder);
    EXPECT_EQ(database.ReadString(ROOT + "\\COM5", "PeerIp_STR", ""), "10.0.0.5");
}

TEST_F(RegistryStoreTest, PeerAddressTextStandsInOnlyForAnEmptyPeerName) {
    struct Case {
        const char* key;
        std::optional<std::string> peerName;
        std::string expected;
    };
    const Case cases[] = {
        {"COM1", std::nullopt, "10.0.0.5"},
        {"COM2", "", "10.0.0.5"},
        {"COM3", "host.example", "host.example"},
    };
    for (const Case& c : cases) {
        std::vector<CRegistryValue> values{CRegistryValue::String("PeerIp_STR", "10.0.0.5")};
        if (c.peerName)
            values.push_back(CRegistryValue::String("PeerName", *c.peerName));
        ASSERT_TRUE(database.WriteValues(ROOT + "\\" + c.key, values));
        CVSPDataBasic record;
        store.ReadPort(c.key, record);
        EXPECT_EQ(record.PeerName, c.expected) << c.key;
    }
}

TEST_F(RegistryStoreTest, OnlyKeysBeginningWithUpperCaseComArePorts) {
    for (const char* name : {"COM3", "CONFIG", "MyPort", "COMX", "com5", "CONF", "CO"})
        ASSERT_TRUE(database.CreateKey(ROOT + "\\" + name));
    EXPECT_EQ(store.CountPortKeys(), 2);
    EXPECT_EQ(store.PortKeyNames(), (std::vector<std::string>{"COM3", "COMX"}));
}

TEST_F(RegistryStoreTest, MissingRootHasNoPortsAndOptionsCreateIt) {
    EXPECT_FALSE(store.RootExists());
    EXPECT_EQ(store.CountPortKeys(), 0);
    EXPECT_FALSE(store.RootExists());

    EXPECT_EQ(store.ReadOption("TRAY", 0xFFFFFFFF), 0xFFFFFFFF);
    EXPECT_TRUE(database.KeyExists(ROOT + "\\CONF"));
    store.WriteOption("TRAY", 1);
    EXPECT_EQ(store.ReadOption("tray", 0xFFFFFFFF), 1u);
    EXPECT_EQ(store.CountPortKeys(), 0);
}

TEST_F(RegistryStoreTest, DeleteRemovesOnlyThatPortAndNeverTheRoot) {
    CVSPDataBasic record;
    record.PortName = "COM3";
    store.SavePort(record);
    record.PortName = "COM4";
    store.SavePort(record);

    store.DeletePortKey("com3");
    EXPECT_EQ(store.PortKeyNames(), std::vector<std::string>{"COM4"});
    store.DeletePortKey("COM77");
    store.DeletePortKey("");
    record.PortName = "";
    store.SavePort(record);
    EXPECT_EQ(database.ValueCount(ROOT), 0);
    store.DeletePortKey("COM4");
    EXPECT_TRUE(store.RootExists());
    EXPECT_EQ(store.CountPortKeys(), 0);
}

TEST_F(RegistryStoreTest, MigrationCopiesStringsAndDwordsOfOlderPortKeysOnly) {
    ASSERT_TRUE(database.WriteValues(OLDER + "\\COM3", {CRegistryValue::String("PortName", "COM3"),
                                                        CRegistryValue{"Blob", 3, {1, 2, 3}},
                                                        CRegistryValue::Dword("PeerPort", 4001),
                                                        CRegistryValue::String("PeerName", "10.1.1.1")}));
    ASSERT_TRUE(database.WriteValues(OLDER + "\\COM4", {CRegistryValue{"OnlyBlob", 3, {9}}}));
    ASSERT_TRUE(database.WriteDword(OLDER + "\\CONF", "TRAY", 0));
    ASSERT_TRUE(database.WriteString(OLDER + "\\Other", "PortName", "Other"));
    const std::vector<std::string> olderBefore = StoredValues(OLDER + "\\COM3");

    EXPECT_FALSE(store.RootExists());
    EXPECT_TRUE(store.OlderStoreExists());
    store.MigrateOlderStore();

    EXPECT_EQ(store.PortKeyNames(), std::vector<std::string>{"COM3"});
    EXPECT_EQ(StoredValues(ROOT + "\\COM3"),
              (std::vector<std::string>{"PortName|1|text|COM3", "PeerPort|4|integer|4001",
                                        "PeerName|1|text|10.1.1.1"}));
    EXPECT_FALSE(database.KeyExists(ROOT + "\\CONF"));
    EXPECT_FALSE(database.KeyExists(ROOT + "\\Other"));
    EXPECT_EQ(StoredValues(OLDER + "\\COM3"), olderBefore);
    EXPECT_TRUE(database.KeyExists(OLDER + "\\COM4"));

    CVSPDataBasic record;
    store.ReadPort("COM3", record);
    EXPECT_EQ(record.PeerPort, 4001);
    EXPECT_EQ(record.PeerName, "10.1.1.1");
}

} // namespace
