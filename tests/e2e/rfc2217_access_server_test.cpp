#include "HeadlessProgram.h"
#include "LineRate.h"

#include <QProcess>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

// The program against ser2net as a real Telnet COM port access server. ser2net serves one end (B) of a
// pseudo-terminal pair joined by socat; the other end (A) stands for the serial device behind the server.

namespace {

// Seen in the kernel's socket table rather than by connecting, so the server opens no session for it.
bool ListensOnLoopback(int port) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "%08X:%04X", htonl(INADDR_LOOPBACK), port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A")
            return true;
    }
    return false;
}

std::optional<termios> LineSettingsOf(const std::string& path) {
    Descriptor device(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    termios settings{};
    if (!device.IsOpen() || ::tcgetattr(device.Fd(), &settings) != 0)
        return std::nullopt;
    return settings;
}

bool SetLine(int fd, speed_t speed, bool twoStopBits) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfsetspeed(&settings, speed);
    if (twoStopBits)
        settings.c_cflag |= CSTOPB;
    else
        settings.c_cflag &= ~CSTOPB;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool HasLine(const std::string& path, speed_t speed, bool twoStopBits) {
    const std::optional<termios> settings = LineSettingsOf(path);
    return settings && ::cfgetospeed(&*settings) == speed &&
           ((settings->c_cflag & CSTOPB) != 0) == twoStopBits;
}

// Every byte value once, 0xFF and CR NUL included.
std::string EveryByte() {
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

// Two pseudo-terminals joined by socat: what is written to one end is read at the other, and each end
// keeps its own line settings.
class JoinedTerminals {
public:
    ~JoinedTerminals() {
        m_socat.terminate();
        m_socat.waitForFinished(5000);
    }
    bool Start(const std::string& folder) {
        m_endA = folder + "/A";
        m_endB = folder + "/B";
        m_socat.start("socat", {"-d", "-d", QString::fromStdString("pty,raw,echo=0,link=" + m_endA),
                                QString::fromStdString("pty,raw,echo=0,link=" + m_endB)});
        return m_socat.waitForStarted(5000) &&
               WaitFor([&] { return std::filesystem::exists(m_endA) && std::filesystem::exists(m_endB); });
    }
    const std::string& EndA() const { return m_endA; }
    const std::string& EndB() const { return m_endB; }

private:
    QProcess m_socat;
    std::string m_endA, m_endB;
};

// ser2net in the foreground with a configuration of its own: no system service is touched.
class AccessServer {
public:
    AccessServer(const std::string& configPath, int port, const std::string& device)
        : m_configPath(configPath), m_port(port) {
        std::ofstream config(configPath);
        config << "%YAML 1.1\n---\n"
               << "connection: &rfc2217\n"
               << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
               << "  connector: serialdev," << device << ",9600n81,local\n";
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~AccessServer() {
        if (m_process.state() != QProcess::NotRunning)
            Stop();
    }
    bool Start() {
        m_process.start("ser2net", {"-d", "-u", "-c", QString::fromStdString(m_configPath)});
        return m_process.waitForStarted(5000) && WaitFor([&] { return ListensOnLoopback(m_port); });
    }
    bool Stop() {
        m_process.terminate();
        return m_process.waitForFinished(5000);
    }

private:
    std::string m_configPath;
    int m_port;
    QProcess m_process;
};

class AccessServerTest : public HeadlessTest {
protected:
    // ser2net serving end B, the program's port COM9 linked to it, an application on COM9 and the device
    // at end A.
    void SetUp() override {
        HeadlessTest::SetUp();
        ASSERT_TRUE(m_terminals.Start(Folder()));
        const int serverPort = FreeTcpPort();
        m_server = std::make_unique<AccessServer>(Folder() + "/ser2net.yaml", serverPort, m_terminals.EndB());
        ASSERT_TRUE(m_server->Start());
        StorePort([&](CVSPDataBasic& port) {
            port.PortName = "COM9";
            port.VspMode = VSP_MODE_TCP_CLIENT;
            port.PeerName = "127.0.0.1";
            port.PeerPort = serverPort;
            port.TelComUse = 1;
            port.LogData = 1;
            port.LogSystem = 1;
        });
        ASSERT_TRUE(StartProgram());
        ASSERT_TRUE(WaitFor(
            [&] { return SystemLog().find("A TCP/IP connection is established.") != std::string::npos; }));
        ASSERT_TRUE(WaitForLink("COM9"));
        m_application = OpenSerial(LinkPath("COM9"));
        ASSERT_TRUE(m_application.IsOpen());
        m_device = OpenSerial(m_terminals.EndA());
        ASSERT_TRUE(m_device.IsOpen());
    }

    std::string Folder() const { return m_home.path().toStdString(); }
    std::string SystemLog() const { return LogText("COM9", "_SYS.log"); }
    const std::string& ServedDevice() const { return m_terminals.EndB(); }
    std::optional<int> ServedRate() const {
        Descriptor served(::open(ServedDevice().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        return LineRateOf(served.Fd());
    }

    JoinedTerminals m_terminals;
    std::unique_ptr<AccessServer> m_server;
    Descriptor m_application;
    Descriptor m_device;
};

} // namespace

TEST_F(AccessServerTest, ApplicationSettingsReachTheServedDeviceAndAreSentAgainAfterReconnect) {
    // The application chooses its line while the link is up: each change goes to the server at once.
    ASSERT_TRUE(SetLine(m_application.Fd(), B19200, true));
    EXPECT_TRUE(WaitFor([&] { return HasLine(ServedDevice(), B19200, true); }));

    const std::string outbound = EveryByte();
    ASSERT_TRUE(m_application.Send(outbound));
    EXPECT_EQ(m_device.Receive(outbound.size()), outbound);
    const std::string inbound(outbound.rbegin(), outbound.rend());
    ASSERT_TRUE(m_device.Send(inbound));
    EXPECT_EQ(m_application.Receive(inbound.size()), inbound);

    // The link drops; meanwhile the device is set otherwise. When the program reconnects it sends the
    // application's settings again, over the server's own defaults.
    ASSERT_TRUE(m_server->Stop());
    ASSERT_TRUE(
        WaitFor([&] { return SystemLog().find("A TCP/IP connection is closed.") != std::string::npos; }));
    {
        Descriptor served(::open(ServedDevice().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(SetLine(served.Fd(), B4800, false));
        ASSERT_TRUE(HasLine(ServedDevice(), B4800, false));
    }
    ASSERT_TRUE(m_server->Start());
    EXPECT_TRUE(WaitFor([&] { return HasLine(ServedDevice(), B19200, true); }, 20000));

    ASSERT_TRUE(m_application.Send("\xFF again"));
    EXPECT_EQ(m_device.Receive(7), "\xFF again");
    const std::string dataLog = LogText("COM9", "_DATA.log");
    EXPECT_NE(dataLog.find("[TELCOM] send_port_state_to_net TELCOM_SET_BAUD [19200]\r\n"), std::string::npos);
    EXPECT_NE(dataLog.find("[TELCOM] TCP -> VSP response of SET_STOPSIZE 1:1,2:2,3:1.5 [2]\r\n"),
              std::string::npos);
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(AccessServerTest, RateWithA255ByteReachesTheServedDeviceWhole) {
    // 65535 is 00 00 FF FF on the wire: undoubled, the server would read a short, broken command.
    ASSERT_TRUE(SetAnyLineRate(m_application.Fd(), 65535));
    EXPECT_TRUE(WaitFor([&] { return ServedRate() == 65535; }));
    ASSERT_TRUE(m_application.Send("\xFF\xFF after"));
    EXPECT_EQ(m_device.Receive(8), "\xFF\xFF after");
    EXPECT_EQ(StopProgram(), 0);
}
