#include "HeadlessProgram.h"

#include "CRegistryDatabase.h"
#include "CRegistryStore.h"

#include <csignal>
#include <filesystem>

namespace {

std::string Under(const QTemporaryDir& folder, const char* name) {
    return folder.path().toStdString() + "/" + name;
}

} // namespace

void HeadlessTest::SetUp() {
    ASSERT_TRUE(m_home.isValid());
    std::filesystem::create_directories(Under(m_home, "config/tolvex"));
    std::filesystem::create_directories(Under(m_home, "runtime"));
    std::filesystem::permissions(Under(m_home, "runtime"), std::filesystem::perms::owner_all);
}

void HeadlessTest::TearDown() {
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished(5000);
    }
}

void HeadlessTest::StorePort(const std::function<void(CVSPDataBasic&)>& change) {
    CRegistryDatabase database(Under(m_home, "config/tolvex/registry.db"));
    CRegistryStore store(database);
    CVSPDataBasic port;
    change(port);
    store.SavePort(port);
}

int HeadlessTest::CountStoredPorts() {
    CRegistryDatabase database(Under(m_home, "config/tolvex/registry.db"));
    return CRegistryStore(database).CountPortKeys();
}

bool HeadlessTest::StartProgram() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_home.path());
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(Under(m_home, "config")));
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(Under(m_home, "runtime")));
    environment.remove("XDG_DOCUMENTS_DIR");
    m_program.setProcessEnvironment(environment);
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    m_program.start(TOLVEX_BINARY, {"--headless"});
    return m_program.waitForStarted(5000);
}

int HeadlessTest::StopProgram() {
    ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
    if (!WaitFor([&] { return m_program.state() == QProcess::NotRunning; }, 10000))
        return -1;
    return m_program.exitStatus() == QProcess::NormalExit ? m_program.exitCode() : -1;
}

std::string HeadlessTest::LinkPath(const std::string& portName) const {
    return Under(m_home, "runtime/tolvex/") + portName;
}

bool HeadlessTest::WaitForLink(const std::string& portName) const {
    return WaitFor([&] { return std::filesystem::exists(LinkPath(portName)); });
}

std::string HeadlessTest::LogText(const std::string& prefix, const std::string& suffix) const {
    std::filesystem::path newest;
    const std::filesystem::path folder = Under(m_home, "Documents/Tolvex");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("[ " + prefix + " ] ") && name.ends_with(suffix) &&
            (newest.empty() || name > newest.filename().string()))
            newest = entry.path();
    }
    return newest.empty() ? std::string() : ReadWholeFile(newest.string());
}
