#pragma once

#include "CLinkMessageSink.h"
#include "CSSLSocket.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "WaitFor.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tls_test {

// Runs the openssl command and waits for it; true when it exited with 0.
inline bool RunOpenSsl(const QStringList& arguments, const QString& workingDirectory) {
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start("openssl", arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The files a TLS server port reads from its working directory: a self-signed certificate with its key
// encrypted by the server password, the same certificate as trust list, and 1024-bit Diffie-Hellman
// parameters; peer-key.pem is the same key unencrypted, for openssl peers. Making them takes seconds, and
// every test runs in a process of its own, so they are made once per user and kept in the temp folder.
class CertificateFiles {
public:
    static const CertificateFiles& Get() {
        static CertificateFiles files;
        return files;
    }
    const std::filesystem::path& Directory() const { return m_directory; }
    bool IsValid() const { return std::filesystem::exists(m_directory / "dh1024.pem"); }

private:
    CertificateFiles()
        : m_directory(std::filesystem::temp_directory_path() /
                      ("tolvex-tls-test-files-" + std::to_string(::getuid()))) {
        if (IsValid())
            return;
        QTemporaryDir staging(QString::fromStdString((m_directory.string() + "-XXXXXX")));
        staging.setAutoRemove(true);
        const QString dir = staging.path();
        const std::filesystem::path path = dir.toStdString();
        const bool made =
            RunOpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-keyout", "key.pem", "-out", "cert.pem",
                        "-days", "3650", "-subj", "/CN=tolvex.test", "-passout", "pass:qembrutz"},
                       dir) &&
            RunOpenSsl({"pkey", "-in", "key.pem", "-passin", "pass:qembrutz", "-out", "peer-key.pem"}, dir) &&
            RunOpenSsl({"dhparam", "-out", "dh1024.pem", "1024"}, dir);
        if (!made)
            return;
        {
            std::ofstream server(path / "server.pem");
            server << std::ifstream(path / "cert.pem").rdbuf() << std::ifstream(path / "key.pem").rdbuf();
        }
        std::filesystem::copy_file(path / "cert.pem", path / "root.pem");
        // Another test process may have finished first; then its files are used and these go.
        std::error_code ignored;
        std::filesystem::rename(path, m_directory, ignored);
    }
    std::filesystem::path m_directory;
};

// Makes a directory the working directory for the lifetime of the object.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::filesystem::path& directory)
        : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(directory);
    }
    ~ScopedWorkingDirectory() { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

// Stands in for the engine: records what the link reports and, as the engine does, moves a server whose
// client went back to listening.
class RecordingSink : public CLinkMessageSink {
public:
    explicit RecordingSink(CVSPDataBasic& port) : m_port(port) {}

    void OnLinkMessage(int message, int, long lParam) override {
        m_messages.push_back({message, lParam});
        if (message == WM_LINK_CLOSED)
            m_port.SockState =
                m_port.VspMode == VSP_MODE_TCP_SERVER ? VSP_SOCKET_LISTENING : VSP_SOCKET_CLOSED;
    }
    void OnLinkReady(int) override { ++m_readyCount; }

    int Count(int message) const {
        int count = 0;
        for (const auto& [recorded, lParam] : m_messages)
            count += recorded == message ? 1 : 0;
        return count;
    }
    int ReadyCount() const { return m_readyCount; }

private:
    CVSPDataBasic& m_port;
    std::vector<std::pair<int, long>> m_messages;
    int m_readyCount = 0;
};

// One port with its TLS link, its logs (system log open) and a recording sink. An application holds the
// port open, so received bytes are delivered.
struct TlsPort {
    TlsPort(int mode, const std::filesystem::path& logFolder, const std::string& name)
        : programLog(logFolder), portLog(logFolder), sink(data), link(data, programLog, portLog) {
        data.VspId = VSP_ID_FIRST;
        data.PortName = name;
        data.SSLUse = 1;
        data.VspMode = mode;
        data.VspState = VSP_OPENED;
        portLog.OpenSystemLog(name);
        programLog.OpenSystemLog("TOLVEX");
        link.SetMessageSink(&sink);
    }

    // Everything queued for the virtual port, taken out of the queue.
    std::string TakeReceived() {
        std::string received;
        while (!data.NetToPortQueue.IsEmpty()) {
            const auto chunk = data.NetToPortQueue.TakeHead();
            received.append(chunk.begin(), chunk.end());
        }
        return received;
    }
    int Send(const std::string& text) {
        return link.SendData(reinterpret_cast<const unsigned char*>(text.data()),
                             static_cast<int>(text.size()));
    }
    std::string SystemLog() const {
        std::ifstream file(portLog.SystemLogPath());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    CVSPDataBasic data;
    CVSPLog programLog;
    CVSPLog portLog;
    RecordingSink sink;
    CSSLSocket link;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
inline int FreeLoopbackPort() {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(descriptor);
    return ntohs(address.sin_port);
}

// An openssl command running beside the test, its output collected as it comes.
class OpenSslPeer {
public:
    OpenSslPeer(const QStringList& arguments, const std::filesystem::path& workingDirectory) {
        m_process.setWorkingDirectory(QString::fromStdString(workingDirectory.string()));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("openssl", arguments);
        m_process.waitForStarted(10000);
    }
    ~OpenSslPeer() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    std::string Output() {
        m_output += m_process.readAll().toStdString();
        return m_output;
    }
    bool OutputContains(const std::string& text) { return Output().find(text) != std::string::npos; }
    void Write(const std::string& text) {
        m_process.write(text.data(), static_cast<qint64>(text.size()));
        m_process.waitForBytesWritten(5000);
    }
    bool HasExited() const { return m_process.state() == QProcess::NotRunning; }
    int ExitCode() const { return m_process.exitCode(); }

private:
    QProcess m_process;
    std::string m_output;
};

} // namespace tls_test
