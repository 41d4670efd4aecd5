#include "../platform/TemporaryDirectory.h"
#include "CVSPLog.h"

#include <QDateTime>
#include <WaitFor.h>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <thread>

namespace {

const std::string STAMP = R"(\r\n\[\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2} (0|[1-9]\d{0,2}))";

std::string FileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file's content after the entry header that the pattern (the header's end) describes.
std::string BodyAfterHeader(const std::string& text, const std::string& headerEnd) {
    std::smatch match;
    std::regex header("^" + STAMP + headerEnd);
    if (!std::regex_search(text, match, header))
        return "<no header in: " + text.substr(0, 80) + ">";
    return match.suffix();
}

std::vector<unsigned char> Bytes(std::size_t count, unsigned char first = 0x41) {
    std::vector<unsigned char> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(first + i);
    return bytes;
}

class VSPLogTest : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    std::filesystem::path folder = directory.Path() / "Tolvex";
    CVSPLog log{folder};
};

TEST_F(VSPLogTest, FileNamesCarryPrefixAndOpeningTime) {
    ASSERT_EQ(log.OpenDataLog("COM7"), 0);
    ASSERT_EQ(log.OpenSystemLog("TOLVEX"), 0);
    EXPECT_EQ(log.DataLogPath().parent_path(), folder);
    EXPECT_TRUE(std::regex_match(log.DataLogPath().filename().string(),
                                 std::regex(R"(\[ COM7 \] \d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_DATA\.log)")));
    EXPECT_TRUE(std::regex_match(log.SystemLogPath().filename().string(),
                                 std::regex(R"(\[ TOLVEX \] \d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_SYS\.log)")));
    EXPECT_EQ(FileText(log.DataLogPath()), "");
}

TEST_F(VSPLogTest, DumpLinesByteForByte) {
    struct Case {
        std::vector<unsigned char> bytes;
        std::string body;
    };
    const std::string pad15(15 * 3, ' ');
    const Case cases[] = {
        {{}, ""},
        {Bytes(16), "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 | ABCDEFGHIJKLMNOP\r\n"},
        {Bytes(17), "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 | ABCDEFGHIJKLMNOP\r\n"
                    "51 " +
                        pad15 + "| Q\r\n"},
        {{'H', 'e', 'l', 'l', 'o', '\r', '\n'},
         "48 65 6C 6C 6F 0D 0A " + std::string(27, ' ') + "| Hello..\r\n"},
        {{0x7F, 0x20, 0x80, 0x00, 0xFF, 0x1F},
         "7F 20 80 00 FF 1F " + std::string(30, ' ') + "| \x7F ....\r\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(log.OpenDataLog("COM3"), 0);
        ASSERT_EQ(log.DumpData(c.bytes.data(), c.bytes.size(), CVSPLog::TCP_TO_VSP), 0);
        std::string count = std::to_string(c.bytes.size());
        EXPECT_EQ(BodyAfterHeader(FileText(log.DataLogPath()), R"(\] - \[TCP->VSP : )" + count + R"(\]\r\n)"),
                  c.body)
            << c.bytes.size() << " bytes";
    }
}

TEST_F(VSPLogTest, EntryHeadersOfEachKind) {
    ASSERT_EQ(log.OpenDataLog("COM3"), 0);
    const unsigned char byte = 'x';
    ASSERT_EQ(log.DumpData(&byte, 1, CVSPLog::VSP_TO_TCP), 0);
    ASSERT_EQ(log.DumpDropped(&byte, 1), 0);
    ASSERT_EQ(log.WriteDataText("[TCP] %s %d", "connected", 7), 0);
    ASSERT_EQ(log.WriteDataRaw("raw\r\n", 5), 0);
    const std::string line = "78 " + std::string(45, ' ') + "\\| x\\r\\n";
    EXPECT_TRUE(std::regex_match(FileText(log.DataLogPath()),
                                 std::regex(STAMP + R"(\] - \[VSP->TCP : 1\]\r\n)" + line + STAMP +
                                            R"(\] - \[TCP->VSP : 1\(DROPPED\)\]\r\n)" + line + STAMP +
                                            R"(\]\r\n\[TCP\] connected 7)" + STAMP + R"(\]\r\nraw\r\n)")))
        << FileText(log.DataLogPath());
}

TEST_F(VSPLogTest, ReturnValuesOfClosedOpenAndVanishedFiles) {
    EXPECT_EQ(log.WriteSystemText("nothing"), -1);
    EXPECT_EQ(log.WriteDataRaw("x", 1), -1);
    EXPECT_EQ(log.DumpData("x", 1, CVSPLog::VSP_TO_TCP), -1);
    EXPECT_EQ(log.DumpDropped("x", 1), -1);

    ASSERT_EQ(log.OpenSystemLog("TOLVEX"), 0);
    EXPECT_TRUE(log.IsSystemLogOpen());
    EXPECT_FALSE(log.IsDataLogOpen());
    EXPECT_EQ(log.WriteDataText("still closed"), -1);
    EXPECT_EQ(log.WriteSystemText("%s", "text"), 0);

    std::filesystem::path path = log.SystemLogPath();
    std::filesystem::remove(path);
    EXPECT_EQ(log.WriteSystemText("lost"), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    log.CloseSystemLog();
    EXPECT_FALSE(log.IsSystemLogOpen());
    EXPECT_EQ(log.SystemLogPath(), std::filesystem::path());
    EXPECT_EQ(log.WriteSystemText("closed"), -1);
}

TEST_F(VSPLogTest, TextIsCutAtOneThousandTwentyFourCharacters) {
    ASSERT_EQ(log.OpenSystemLog("TOLVEX"), 0);
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += "\xC3\xA9"; // two bytes each
    ASSERT_EQ(log.WriteSystemText("%s", text.c_str()), 0);
    EXPECT_EQ(BodyAfterHeader(FileText(log.SystemLogPath()), R"(\]\r\n)"), text.substr(0, 2048));
}

TEST_F(VSPLogTest, DeletedFolderIsCreatedAgainByTheNextOpening) {
    ASSERT_EQ(log.OpenDataLog("COM3"), 0);
    log.CloseDataLog();
    std::filesystem::remove_all(folder);
    ASSERT_EQ(log.OpenDataLog("COM3"), 0);
    EXPECT_TRUE(std::filesystem::exists(log.DataLogPath()));
}

TEST_F(VSPLogTest, OpeningWhereNoFolderCanBeReportsTheError) {
    std::ofstream(directory.Path() / "file") << "x";
    CVSPLog blocked(directory.Path() / "file" / "Tolvex");
    EXPECT_EQ(blocked.OpenSystemLog("TOLVEX"), ENOTDIR);
    EXPECT_FALSE(blocked.IsSystemLogOpen());
    EXPECT_EQ(blocked.WriteSystemText("x"), -1);
}

TEST_F(VSPLogTest, FilePastFiveMebibytesIsFollowedByANewOne) {
    ASSERT_EQ(log.OpenDataLog("COM3"), 0);
    const std::filesystem::path first = log.DataLogPath();
    const std::string filler(5242880, 'f');
    ASSERT_EQ(log.WriteDataRaw(filler.data(), filler.size()), 0);
    ASSERT_GT(std::filesystem::file_size(first), 5242880u);

    // The new file is named after the time of the rotation: wait until that name differs.
    ASSERT_TRUE(WaitFor(
        [&] {
            std::string now = QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss").toStdString();
            return first.filename().string().find(now) == std::string::npos;
        },
        3000));
    const unsigned char byte = 0x42;
    ASSERT_EQ(log.DumpData(&byte, 1, CVSPLog::TCP_TO_VSP), 0);

    EXPECT_NE(log.DataLogPath(), first);
    EXPECT_EQ(std::filesystem::file_size(first), filler.size() + FileText(first).find('f'));
    EXPECT_NE(FileText(log.DataLogPath()).find("| B\r\n"), std::string::npos);
    EXPECT_EQ(FileText(log.DataLogPath()).find('f'), std::string::npos);
}

TEST_F(VSPLogTest, RotationWithinOneSecondKeepsEveryEntry) {
    ASSERT_EQ(log.OpenSystemLog("TOLVEX"), 0);
    const std::string filler(5242881, 'z');
    ASSERT_EQ(log.WriteSystemRaw(filler.data(), filler.size()), 0);
    ASSERT_EQ(log.WriteSystemText("after"), 0);
    ASSERT_EQ(log.WriteSystemText("last"), 0);

    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        all += FileText(entry.path());
    EXPECT_EQ(std::count(all.begin(), all.end(), 'z'), 5242881);
    EXPECT_NE(all.find("after"), std::string::npos);
    EXPECT_NE(all.find("last"), std::string::npos);
}

TEST_F(VSPLogTest, EntriesOfTwoThreadsNeverInterleave) {
    ASSERT_EQ(log.OpenDataLog("COM3"), 0);
    auto writer = [&](char letter) {
        const std::string body(3000, letter);
        for (int i = 0; i < 200; ++i)
            log.WriteDataRaw(body.data(), body.size());
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    // Every entry is a header line and one whole body of a single letter.
    const std::string text = FileText(log.DataLogPath());
    int entries = 0;
    for (std::size_t start = text.find("\r\n["); start != std::string::npos; ++entries) {
        std::size_t body = text.find("]\r\n", start) + 3;
        std::size_t next = text.find("\r\n[", body);
        std::string entry = text.substr(body, next == std::string::npos ? std::string::npos : next - body);
        ASSERT_TRUE(entry == std::string(3000, 'a') || entry == std::string(3000, 'b'))
            << "entry " << entries;
        start = next;
    }
    EXPECT_EQ(entries, 400);
}

} // namespace
