#pragma once

#include "CVSPDataBasic.h"
#include "LoopbackKit.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>

// The real program, run headless on a home, configuration and runtime folder of its own.
class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Saves a port in the store the program will read; `change` adjusts the defaults.
    void StorePort(const std::function<void(CVSPDataBasic&)>& change);
    int CountStoredPorts();

    bool StartProgram();
    // SIGTERM, then the exit code; -1 when the program did not end in time or crashed.
    int StopProgram();

    std::string LinkPath(const std::string& portName) const;
    bool WaitForLink(const std::string& portName) const;
    // The newest log of the prefix whose file name ends with the suffix ("_SYS.log", "_DATA.log").
    std::string LogText(const std::string& prefix, const std::string& suffix) const;

    QTemporaryDir m_home;
    QProcess m_program;
};
