#include "CRegistryDatabase.h"
#include "CRegistryStore.h"
#include "UserEnvironment.h"

#include <QProcess>
#include <WaitFor.h>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

std::string FileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The program log, once the started program has opened it.
std::filesystem::path ProgramLogIn(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with("[ TOLVEX ] "))
            return entry.path();
    }
    return {};
}

class ProgramTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (first.state() != QProcess::NotRunning) {
            first.kill();
            first.waitForFinished(5000);
        }
    }

    // Starts the program and waits until its start sequence has run.
    void StartFirst() {
        first.start(TOLVEX_BINARY, {"--headless"});
        ASSERT_TRUE(first.waitForStarted(5000));
        ASSERT_TRUE(WaitFor([&] { return !ProgramLogIn(user.LogFolder()).empty(); }, 10000))
            << first.readAllStandardError().toStdString();
        ASSERT_EQ(first.state(), QProcess::Running);
    }

    void StopFirstWith(int signalNumber) {
        ASSERT_EQ(::kill(static_cast<pid_t>(first.processId()), signalNumber), 0);
        ASSERT_TRUE(WaitFor([&] { return first.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first.exitCode(), 0);
    }

    UserEnvironment user;
    QProcess first;
};

TEST_F(ProgramTest, SecondStartIsRefusedWhileTheFirstRunsAndTheFirstEndsOnSigterm) {
    StartFirst();

    QProcess second;
    second.start(TOLVEX_BINARY, {"--headless"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_NE(second.readAllStandardError().toStdString().find("An Tolvex is already running."),
              std::string::npos);
    EXPECT_EQ(first.state(), QProcess::Running);

    StopFirstWith(SIGTERM);
    CRegistryDatabase database(user.StoreFile());
    EXPECT_EQ(database.ReadDword(std::string(CRegistryStore::ROOT_KEY) + "\\CONF", "TRAY", 7), 1u);
}

TEST_F(ProgramTest, UnreadableStoreIsReportedLeftAloneAndTheProgramRunsOn) {
    const std::string garbage(4096, '\x5A');
    std::filesystem::create_directories(user.StoreFile().parent_path());
    std::ofstream(user.StoreFile(), std::ios::binary) << garbage;

    StartFirst();
    StopFirstWith(SIGINT);

    EXPECT_NE(FileText(ProgramLogIn(user.LogFolder())).find(user.StoreFile().string()), std::string::npos);
    EXPECT_NE(first.readAllStandardError().toStdString().find(user.StoreFile().string()), std::string::npos);
    EXPECT_EQ(FileText(user.StoreFile()), garbage);
}

} // namespace
