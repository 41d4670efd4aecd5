#include "CRegistryDatabase.h"
#include "SqliteShell.h"
#include "TemporaryDirectory.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

constexpr const char* KEY = "software\\Maker\\Program\\COM3";

std::vector<std::string> Subkeys(CRegistryDatabase& database, const std::string& path) {
    std::vector<std::string> names;
    while (std::optional<std::string> name = database.EnumerateSubkey(path, static_cast<int>(names.size())))
        names.push_back(*name);
    return names;
}

std::vector<std::string> ValueNames(CRegistryDatabase& database, const std::string& path) {
    std::vector<std::string> names;
    while (std::optional<CRegistryValue> value =
               database.EnumerateValue(path, static_cast<int>(names.size())))
        names.push_back(value->name);
    return names;
}

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RegistryDatabaseTest : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    std::filesystem::path file = directory.Path() / "registry.db";
};

TEST_F(RegistryDatabaseTest, WriteCreatesParentsAndNamesIgnoreCase) {
    CRegistryDatabase database(file);
    ASSERT_TRUE(database.IsUsable()) << database.OpenError();
    EXPECT_FALSE(database.KeyExists("software\\Maker"));

    ASSERT_TRUE(database.WriteDword(KEY, "PeerPort", 1470));
    EXPECT_TRUE(database.KeyExists("SOFTWARE\\maker"));
    EXPECT_EQ(database.ReadDword("Software\\MAKER\\program\\com3", "peerport", 0), 1470u);

    // Writing under another spelling reaches the same key and value.
    ASSERT_TRUE(database.WriteDword("SOFTWARE\\MAKER\\PROGRAM\\COM3", "PEERPORT", 2000));
    EXPECT_EQ(Subkeys(database, "software\\Maker\\Program"), std::vector<std::string>{"COM3"});
    EXPECT_EQ(ValueNames(database, KEY), std::vector<std::string>{"PeerPort"});
    EXPECT_EQ(database.ReadDword(KEY, "PeerPort", 0), 2000u);
}

TEST_F(RegistryDatabaseTest, SubkeysInCaseInsensitiveOrderValuesInCreationOrder) {
    CRegistryDatabase database(file);
    for (const char* name : {"com10", "COM2", "Conf", "COM1", "abc"})
        ASSERT_TRUE(database.CreateKey(std::string("root\\") + name));
    EXPECT_EQ(Subkeys(database, "root"), (std::vector<std::string>{"abc", "COM1", "com10", "COM2", "Conf"}));

    ASSERT_TRUE(database.WriteString(KEY, "Zeta", "z"));
    ASSERT_TRUE(database.WriteDword(KEY, "Alpha", 1));
    ASSERT_TRUE(database.WriteString(KEY, "Mid", "m"));
    ASSERT_TRUE(database.WriteDword(KEY, "zeta", 5)); // overwriting keeps the place and the spelling
    EXPECT_EQ(ValueNames(database, KEY), (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
    EXPECT_EQ(database.ValueCount(KEY), 3);
    EXPECT_FALSE(database.EnumerateValue(KEY, 3));
    EXPECT_FALSE(database.EnumerateSubkey("missing", 0));
}

TEST_F(RegistryDatabaseTest, TypesAreKeptApartAndBadDwordsReadAsDefault) {
    {
        CRegistryDatabase database(file);
        ASSERT_TRUE(database.WriteString(KEY, "Text", "5"));
        ASSERT_TRUE(database.WriteDword(KEY, "Number", 4294967295u));
        ASSERT_TRUE(database.WriteValues(KEY, {CRegistryValue{"Binary", 3, {0x00, 0xFF, 0x10}}}));
    }
    SqliteShell shell(file);
    // Values a user may have put in with the sqlite3 shell.
    ASSERT_TRUE(
        shell.Execute("INSERT INTO reg_value SELECT key, 'Negative', 4, -1, 10 FROM reg_value "
                      "WHERE name = 'Text'; "
                      "INSERT INTO reg_value SELECT key, 'TooLarge', 4, 4294967296, 11 FROM reg_value "
                      "WHERE name = 'Text'; "
                      "INSERT INTO reg_value SELECT key, 'Word', 4, 'abc', 12 FROM reg_value "
                      "WHERE name = 'Text'; "
                      "INSERT INTO reg_value SELECT key, 'Real', 4, 1.5, 13 FROM reg_value "
                      "WHERE name = 'Text'"));
    CRegistryDatabase database(file);

    struct Case {
        const char* name;
        uint32_t dword;
        std::string text;
    };
    const Case cases[] = {
        {"Text", 77, "5"},           {"Number", 4294967295u, "default"}, {"Binary", 77, "default"},
        {"Negative", 77, "default"}, {"TooLarge", 77, "default"},        {"Word", 77, "default"},
        {"Real", 77, "default"},     {"Missing", 77, "default"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(database.ReadDword(KEY, c.name, 77), c.dword) << c.name;
        EXPECT_EQ(database.ReadString(KEY, c.name, "default"), c.text) << c.name;
    }
    std::optional<CRegistryValue> binary = database.ReadValue(KEY, "Binary");
    ASSERT_TRUE(binary);
    EXPECT_EQ(binary->type, 3u);
    EXPECT_EQ(binary->data, (std::vector<unsigned char>{0x00, 0xFF, 0x10}));
    EXPECT_EQ(
        shell.Rows("SELECT type, typeof(data) FROM reg_value WHERE name IN ('Text', 'Number', 'Binary') "
                   "ORDER BY seq"),
        (std::vector<std::string>{"1|text", "4|integer", "3|blob"}));
}

TEST_F(RegistryDatabaseTest, SeveralValuesAreWrittenAllOrNone) {
    CRegistryDatabase database(file);
    ASSERT_TRUE(database.WriteDword(KEY, "Existing", 1));
    SqliteShell shell(file);
    ASSERT_TRUE(shell.Execute("CREATE TRIGGER refuse BEFORE INSERT ON reg_value WHEN NEW.name = 'Refused' "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END"));

    EXPECT_FALSE(
        database.WriteValues("software\\Maker\\Program\\COM4",
                             {CRegistryValue::Dword("First", 1), CRegistryValue::String("Second", "x"),
                              CRegistryValue::Dword("Refused", 3)}));
    EXPECT_FALSE(database.KeyExists("software\\Maker\\Program\\COM4"));
    EXPECT_EQ(shell.Rows("SELECT count(*) FROM reg_value"), std::vector<std::string>{"1"});
    EXPECT_TRUE(database.WriteDword(KEY, "After", 2)); // no transaction was left open
}

TEST_F(RegistryDatabaseTest, DeleteKeyOnlyWithoutSubkeys) {
    CRegistryDatabase database(file);
    ASSERT_TRUE(database.WriteDword(KEY, "Value", 1));
    EXPECT_FALSE(database.DeleteKey("software\\Maker\\Program"));
    EXPECT_TRUE(database.KeyExists(KEY));

    EXPECT_TRUE(database.DeleteKey("SOFTWARE\\Maker\\Program\\com3"));
    EXPECT_FALSE(database.KeyExists(KEY));
    EXPECT_TRUE(database.KeyExists("software\\Maker\\Program"));
    EXPECT_TRUE(database.DeleteKey(KEY)); // a missing key is not an error
    SqliteShell shell(file);
    EXPECT_EQ(shell.Rows("SELECT count(*) FROM reg_value"), std::vector<std::string>{"0"});
}

TEST_F(RegistryDatabaseTest, RunsInWalModeAndSharesTheFileWithAnotherConnection) {
    CRegistryDatabase first(file);
    CRegistryDatabase second(file);
    ASSERT_TRUE(first.WriteString(KEY, "PortName", "COM3"));
    EXPECT_EQ(second.ReadString(KEY, "PortName", ""), "COM3");
    SqliteShell shell(file);
    EXPECT_EQ(shell.Rows("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(RegistryDatabaseTest, GarbageFileIsNamedLeftAloneAndReadsEmpty) {
    const std::string garbage = "this is not a database, just some words and bytes \x01\x02\xFF";
    std::ofstream(file, std::ios::binary) << garbage;

    CRegistryDatabase database(file);
    EXPECT_FALSE(database.IsUsable());
    EXPECT_NE(database.OpenError().find(file.string()), std::string::npos) << database.OpenError();
    EXPECT_FALSE(database.KeyExists(KEY));
    EXPECT_EQ(database.ReadDword(KEY, "PeerPort", 1470), 1470u);
    EXPECT_FALSE(database.WriteDword(KEY, "PeerPort", 1));
    EXPECT_FALSE(database.CreateKey(KEY));
    EXPECT_FALSE(database.EnumerateSubkey("software", 0));

    EXPECT_EQ(FileBytes(file), garbage);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.Path()), {}), 1);
}

TEST_F(RegistryDatabaseTest, UnreachableFileIsNamed) {
    std::filesystem::path unreachable = directory.Path() / "missing-folder" / "registry.db";
    CRegistryDatabase database(unreachable);
    EXPECT_FALSE(database.IsUsable());
    EXPECT_NE(database.OpenError().find(unreachable.string()), std::string::npos) << database.OpenError();
    EXPECT_FALSE(std::filesystem::exists(unreachable));
}

} // namespace
