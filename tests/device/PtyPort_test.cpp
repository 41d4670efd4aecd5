#include "LineRate.h"
#include "PortTestSupport.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kId = 8003;

class PtyPortTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_EQ(port->Create("COM3"), 1);
    }

    std::string Link(const std::string& name = "COM3") const { return (Directory() / name).string(); }
    fs::path Directory() const { return fs::path(m_dir.path().toStdString()); }

    // Opens the port as an application and waits until the port has noticed.
    std::unique_ptr<Application> OpenApplication() {
        const int opensBefore = events.Count({"OpenClose", {1}});
        auto app = std::make_unique<Application>(Link());
        EXPECT_TRUE(app->IsOpen());
        EXPECT_TRUE(WaitFor([&] { return events.Count({"OpenClose", {1}}) == opensBefore + 1; }));
        return app;
    }

    void CloseApplication(Application& app) {
        const int closesBefore = events.Count({"OpenClose", {0}});
        app.Close();
        EXPECT_TRUE(WaitFor([&] { return events.Count({"OpenClose", {0}}) == closesBefore + 1; }));
    }

    std::string ReadFromPort(std::size_t count) {
        std::string received;
        WaitFor([&] {
            unsigned char buffer[1024];
            int n = port->Read(buffer, sizeof buffer);
            received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(std::max(n, 0)));
            return received.size() >= count;
        });
        return received;
    }

    bool WriteToPort(const std::string& bytes) {
        std::size_t written = 0;
        WaitFor([&] {
            written += static_cast<std::size_t>(
                port->Write(reinterpret_cast<const unsigned char*>(bytes.data()) + written,
                            static_cast<int>(bytes.size() - written)));
            return written == bytes.size();
        });
        return written == bytes.size();
    }

    QTemporaryDir m_dir;
    RecordingEvents events;
    std::unique_ptr<CVsportax1> port = MakePtyPort(kId, events, m_dir.path().toStdString());
};

TEST_F(PtyPortTest, StartsRawSoNothingIsEchoedOrTranslated) {
    auto app = OpenApplication();
    termios tio{};
    ASSERT_EQ(tcgetattr(app->Fd(), &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(cfgetospeed(&tio), B9600);

    ASSERT_TRUE(WriteToPort("ping\r\n"));
    EXPECT_EQ(app->Receive(6), "ping\r\n");
    // An echo of "ping" would reach the port ahead of the application's own answer.
    ASSERT_TRUE(app->Send("pong\n"));
    EXPECT_EQ(ReadFromPort(5), "pong\n");
    EXPECT_EQ(port->GetInCount(), 0);
}

TEST_F(PtyPortTest, CarriesEveryByteValueBothWays) {
    auto app = OpenApplication();
    ASSERT_TRUE(app->MakeRaw(B115200));
    const std::string all = AllByteValues() + AllByteValues();

    ASSERT_TRUE(WriteToPort(all));
    EXPECT_EQ(app->Receive(all.size()), all);

    ASSERT_TRUE(app->Send(all));
    EXPECT_TRUE(WaitFor([&] { return port->GetInCount() == static_cast<int>(all.size()); }));
    EXPECT_EQ(ReadFromPort(all.size()), all);
    EXPECT_EQ(port->GetInCount(), 0);
}

TEST_F(PtyPortTest, ReportsEveryOpenAndCloseWithTheModemLines) {
    EXPECT_EQ(port->IsOpened(), 0);
    EXPECT_EQ(port->GetDTR(), 0);
    EXPECT_EQ(port->GetRTS(), 0);
    for (int round = 1; round <= 3; ++round) {
        auto app = OpenApplication();
        EXPECT_EQ(port->IsOpened(), 1);
        EXPECT_EQ(port->GetDTR(), 1);
        EXPECT_EQ(port->GetRTS(), 1);
        CloseApplication(*app);
        EXPECT_EQ(port->IsOpened(), 0);
        EXPECT_EQ(port->GetDTR(), 0);
        EXPECT_EQ(port->GetRTS(), 0);
        EXPECT_EQ(events.Count({"OpenClose", {1}}), round);
        EXPECT_EQ(events.Count({"OpenClose", {0}}), round);
        EXPECT_EQ(events.Count({"DTR", {1}}), round);
        EXPECT_EQ(events.Count({"DTR", {0}}), round);
        EXPECT_EQ(events.Count({"RTS", {1}}), round);
        EXPECT_EQ(events.Count({"RTS", {0}}), round);
    }
    EXPECT_EQ(events.CountKind("Break"), 0);
    EXPECT_FALSE(events.raisedOffThread);
    EXPECT_TRUE(std::all_of(events.ids.begin(), events.ids.end(), [](int id) { return id == kId; }));
}

TEST_F(PtyPortTest, AnOpenAfterCreateOnAnotherThreadIsReportedOnTheEventThread) {
    RecordingEvents otherEvents;
    auto other = MakePtyPort(kId + 1, otherEvents, m_dir.path().toStdString());
    int created = 0;
    std::thread job([&] { created = other->Create("COM4"); });
    job.join();
    ASSERT_EQ(created, 1);
    Application app(Link("COM4"));
    ASSERT_TRUE(app.IsOpen());
    EXPECT_TRUE(WaitFor([&] { return otherEvents.Count({"OpenClose", {1}}) == 1; }));
    EXPECT_FALSE(otherEvents.raisedOffThread);
}

TEST_F(PtyPortTest, MorePortsThanTheSystemAllowsWatchInstancesStillReportOpens) {
    // The system lets a user hold only 128 inotify instances; the program may make 256 ports.
    std::vector<std::unique_ptr<RecordingEvents>> recorders;
    std::vector<std::unique_ptr<CVsportax1>> ports;
    for (int i = 0; i < 200; ++i) {
        recorders.push_back(std::make_unique<RecordingEvents>());
        ports.push_back(MakePtyPort(kId + 1 + i, *recorders.back(), m_dir.path().toStdString()));
        ASSERT_EQ(ports.back()->Create("COM" + std::to_string(100 + i)), 1) << i;
    }
    Application app(Link("COM299"));
    ASSERT_TRUE(app.IsOpen());
    EXPECT_TRUE(WaitFor([&] { return recorders.back()->Count({"OpenClose", {1}}) == 1; }));
    EXPECT_EQ(recorders.front()->log.size(), 0u);
}

struct SettingsCase {
    const char* what;
    std::function<bool(Application&)> apply;
    PortEvent expected;
    std::function<bool(CVsportax1&)> check;
};

TEST_F(PtyPortTest, ReportsWhatTheApplicationSets) {
    const std::vector<SettingsCase> cases = {
        {"named rate",
         [](Application& a) { return a.MakeRaw(B115200); },
         {"BaudRate", {115200}},
         [](CVsportax1& p) { return p.GetBaudRate() == 115200; }},
        {"rate without a name",
         [](Application& a) { return a.MakeRaw(B9600) && SetAnyLineRate(a.Fd(), 250000); },
         {"BaudRate", {250000}},
         [](CVsportax1& p) { return p.GetBaudRate() == 250000; }},
        {"two stop bits",
         [](Application& a) { return a.MakeRaw(B9600, CSTOPB); },
         {"LineControl", {2, 0, 8}},
         [](CVsportax1& p) { return p.GetStopBits() == 2 && p.GetParity() == 0 && p.GetDataBits() == 8; }},
        {"RTS/CTS",
         [](Application& a) { return a.MakeRaw(B9600, CRTSCTS); },
         {"FlowControl", {0x08, 0x80, 0, 0}},
         [](CVsportax1& p) { return p.GetHandshake() == 0x08 && p.GetFlowReplace() == 0x80; }},
        {"XON/XOFF",
         [](Application& a) { return a.MakeRaw(B9600, 0, IXON | IXOFF); },
         {"FlowControl", {0, 0x03, 0, 0}},
         [](CVsportax1& p) { return p.GetFlowReplace() == 0x03; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto app = OpenApplication();
        const int before = events.Count(c.expected);
        ASSERT_TRUE(c.apply(*app));
        EXPECT_TRUE(WaitFor([&] { return events.Count(c.expected) == before + 1; }));
        EXPECT_TRUE(c.check(*port));
        // Settings keep being reported after the application cleared EXTPROC with a plain raw setup.
        ASSERT_TRUE(app->MakeRaw(B4800));
        EXPECT_TRUE(WaitFor([&] {
            return events.Count({"BaudRate", {4800}}) >= 1 && port->GetBaudRate() == 4800;
        }));
        CloseApplication(*app);
    }
}

TEST_F(PtyPortTest, HangingUpWithRateZeroDropsDtrAndKeepsTheRate) {
    auto app = OpenApplication();
    ASSERT_TRUE(app->MakeRaw(B19200));
    ASSERT_TRUE(WaitFor([&] { return port->GetBaudRate() == 19200; }));
    ASSERT_TRUE(app->MakeRaw(B0));
    EXPECT_TRUE(WaitFor([&] { return events.Count({"DTR", {0}}) == 1; }));
    EXPECT_EQ(port->GetDTR(), 0);
    EXPECT_EQ(port->GetBaudRate(), 19200);
    EXPECT_EQ(events.Count({"BaudRate", {0}}), 0);
    ASSERT_TRUE(app->MakeRaw(B19200));
    EXPECT_TRUE(WaitFor([&] { return events.Count({"DTR", {1}}) == 2; }));
    EXPECT_EQ(port->GetDTR(), 1);
}

TEST_F(PtyPortTest, NextApplicationGetsNeitherOldBytesNorOldSettings) {
    auto first = OpenApplication();
    ASSERT_TRUE(first->MakeRaw(B115200));
    ASSERT_TRUE(WriteToPort("stale"));
    ASSERT_TRUE(WaitFor([&] { return first->Waiting() == 5; }));
    ASSERT_TRUE(first->Send("last words"));
    CloseApplication(*first);

    // What the first application wrote before closing can still be drained.
    EXPECT_EQ(ReadFromPort(10), "last words");

    auto second = OpenApplication();
    EXPECT_EQ(second->Waiting(), 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(second->Fd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    ASSERT_TRUE(WriteToPort("fresh"));
    EXPECT_EQ(second->Receive(5), "fresh");
}

TEST_F(PtyPortTest, NothingIsWrittenWhileNoApplicationHasThePort) {
    const unsigned char byte = 'x';
    EXPECT_EQ(port->Write(&byte, 1), 0);
    auto app = OpenApplication();
    EXPECT_EQ(app->Waiting(), 0);
}

TEST_F(PtyPortTest, WriteTakesWhatFitsAndSaysWhenThereIsRoomAgain) {
    auto app = OpenApplication();
    const std::string big(256 * 1024, 'z');
    const int taken =
        port->Write(reinterpret_cast<const unsigned char*>(big.data()), static_cast<int>(big.size()));
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, static_cast<int>(big.size()));

    const int readyBefore = events.CountKind("DeviceReady");
    EXPECT_EQ(app->Receive(static_cast<std::size_t>(taken)).size(), static_cast<std::size_t>(taken));
    EXPECT_TRUE(WaitFor([&] { return events.CountKind("DeviceReady") > readyBefore; }));
    EXPECT_GT(port->Write(reinterpret_cast<const unsigned char*>(big.data()), 1024), 0);
}

TEST_F(PtyPortTest, AnnouncesBytesFromTheApplication) {
    auto app = OpenApplication();
    const int readyBefore = events.CountKind("DeviceReady");
    ASSERT_TRUE(app->Send("data"));
    EXPECT_TRUE(WaitFor([&] { return events.CountKind("DeviceReady") > readyBefore; }));
    EXPECT_EQ(port->GetInCount(), 4);
}

// Runs the event loop as the program does for `duration`; returns the CPU time this thread used meanwhile.
std::chrono::microseconds BusyTimeOfEventLoop(std::chrono::milliseconds duration) {
    auto threadCpu = [] {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    };
    const auto before = threadCpu();
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
    return threadCpu() - before;
}

TEST_F(PtyPortTest, BytesLeftWaitingDoNotKeepWakingTheProgram) {
    auto app = OpenApplication();
    const std::string lots(16 * 1024, 'w');
    std::thread writer([&] { app->Send(lots); });
    const bool filled = WaitFor([&] { return port->GetInCount() >= 6 * 1024; });
    EXPECT_TRUE(filled) << port->GetInCount();
    // Nobody reads: a level-triggered watch would report the waiting bytes on every loop turn.
    const int readyBefore = events.CountKind("DeviceReady");
    const auto busyWhileWaiting = BusyTimeOfEventLoop(300ms);
    EXPECT_LE(events.CountKind("DeviceReady") - readyBefore, 1);
    EXPECT_LT(busyWhileWaiting, 30ms) << "the event loop spins";

    EXPECT_EQ(ReadFromPort(lots.size()).size(), lots.size());
    writer.join();
    CloseApplication(*app);
    const std::size_t eventsAfterClose = events.log.size();
    const auto busyWhileClosed = BusyTimeOfEventLoop(300ms);
    EXPECT_EQ(events.log.size(), eventsAfterClose) << "a hung-up master must not be reported again and again";
    EXPECT_LT(busyWhileClosed, 30ms) << "the event loop spins";
}

TEST_F(PtyPortTest, NamesTheProgramHoldingThePort) {
    EXPECT_EQ(port->GetProgramName(), "");
    {
        auto app = OpenApplication();
        EXPECT_EQ(port->GetProgramName(), fs::read_symlink("/proc/self/exe").filename().string());
        CloseApplication(*app);
    }
    EXPECT_EQ(port->GetProgramName(), "");

    QProcess sleeper;
    sleeper.setStandardInputFile(QString::fromStdString(Link()));
    sleeper.start("sleep", {"60"});
    ASSERT_TRUE(sleeper.waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return port->IsOpened() == 1 && events.Count({"OpenClose", {1}}) == 2; }));
    EXPECT_EQ(port->GetProgramName(), "sleep");
    sleeper.kill();
    sleeper.waitForFinished();
    EXPECT_TRUE(WaitFor([&] { return events.Count({"OpenClose", {0}}) == 2; }));
}

TEST_F(PtyPortTest, RefusesNamesThatLeaveThePortDirectory) {
    const std::vector<std::string> unsafe = {"",        std::string(65, 'C'),   "a/b", ".", "..",
                                             "../COM9", std::string("CO\0M", 4)};
    RecordingEvents otherEvents;
    auto other = MakePtyPort(kId + 1, otherEvents, m_dir.path().toStdString());
    for (const auto& name : unsafe) {
        SCOPED_TRACE(name);
        EXPECT_EQ(other->Create(name), 0);
        EXPECT_EQ(other->Attach(name), 0);
    }
    EXPECT_EQ(other->IsPortValid(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(Directory()), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(Directory().parent_path() / "COM9"));
    EXPECT_EQ(other->Create(std::string(64, 'C')), 1);
}

TEST_F(PtyPortTest, ReplacesAStaleLinkButNeverALivePortOrAForeignFile) {
    RecordingEvents otherEvents;
    auto other = MakePtyPort(kId + 1, otherEvents, m_dir.path().toStdString());
    EXPECT_EQ(other->Create("COM3"), 0) << "a live port of another program";
    EXPECT_EQ(other->Attach("COM3"), 0) << "a pseudo-terminal is not a serial device to attach to";

    { std::ofstream(Directory() / "COM6") << "keep me"; }
    EXPECT_EQ(other->Create("COM6"), 0);
    EXPECT_TRUE(fs::is_regular_file(Directory() / "COM6"));
    EXPECT_EQ(other->Attach("COM6"), 0);
    EXPECT_EQ(other->Attach("COM7"), 0) << "missing";

    fs::create_symlink("/dev/pts/999999", Directory() / "COM5");
    ASSERT_EQ(other->Create("COM5"), 1);
    Application app(Link("COM5"));
    EXPECT_TRUE(app.IsOpen());
    EXPECT_TRUE(WaitFor([&] { return otherEvents.Count({"OpenClose", {1}}) == 1; }));
}

TEST_F(PtyPortTest, DeleteRemovesTheLinkAndTheDevice) {
    const fs::path slave = fs::read_symlink(Link());
    ASSERT_TRUE(fs::exists(slave));
    EXPECT_EQ(port->IsPortValid(), 1);
    EXPECT_EQ(port->Delete(), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(slave); }));
    EXPECT_EQ(port->IsPortValid(), 0);
    EXPECT_EQ(port->SetStrictBaudRate(1), 0);
    EXPECT_EQ(port->Delete(), 0);
    EXPECT_EQ(port->Create("COM3"), 1) << "the name is free again";
}

struct PacingCase {
    int baud;
    speed_t speed;
};

// Bytes per second the line carried after the first batch, which a line that was idle may send at once.
double MeasuredRate(std::size_t count, std::size_t firstBatch, std::chrono::steady_clock::time_point first,
                    std::chrono::steady_clock::time_point last) {
    return static_cast<double>(count - firstBatch) / std::chrono::duration<double>(last - first).count();
}

TEST_F(PtyPortTest, EmulationPacesBothDirectionsToTheLineRate) {
    for (const PacingCase& c : {PacingCase{9600, B9600}, PacingCase{115200, B115200}}) {
        SCOPED_TRACE(c.baud);
        const double lineRate = c.baud / 10.0; // 8N1: ten bits a character
        // Two seconds of line time, so timer granularity cannot matter.
        const std::size_t total = static_cast<std::size_t>(lineRate * 2);
        const std::string data(total, 'U');
        auto app = OpenApplication();
        ASSERT_TRUE(app->MakeRaw(c.speed));
        ASSERT_TRUE(WaitFor([&] { return port->GetBaudRate() == c.baud; }));
        ASSERT_EQ(port->SetStrictBaudRate(1), 1);

        std::size_t written = 0;
        std::size_t received = 0;
        std::size_t firstBatch = 0;
        std::chrono::steady_clock::time_point first, last;
        ASSERT_TRUE(WaitFor(
            [&] {
                const int n = port->Write(reinterpret_cast<const unsigned char*>(data.data()) + written,
                                          static_cast<int>(std::min<std::size_t>(1024, total - written)));
                if (n > 0 && written == 0) {
                    first = std::chrono::steady_clock::now();
                    firstBatch = static_cast<std::size_t>(n);
                }
                written += static_cast<std::size_t>(n);
                char buffer[4096];
                const ssize_t got = read(app->Fd(), buffer, sizeof buffer);
                received += static_cast<std::size_t>(std::max<ssize_t>(got, 0));
                last = std::chrono::steady_clock::now();
                return received == total;
            },
            10s));
        const double toApplication = MeasuredRate(total, firstBatch, first, last);

        std::thread writer([&] { app->Send(data); });
        std::size_t read = 0;
        ASSERT_TRUE(WaitFor(
            [&] {
                unsigned char buffer[1024];
                const int n = port->Read(buffer, sizeof buffer);
                if (n > 0 && read == 0) {
                    first = std::chrono::steady_clock::now();
                    firstBatch = static_cast<std::size_t>(n);
                }
                read += static_cast<std::size_t>(std::max(n, 0));
                last = std::chrono::steady_clock::now();
                return read == total;
            },
            10s));
        writer.join();
        const double fromApplication = MeasuredRate(total, firstBatch, first, last);

        std::printf("[ figures  ] %d baud, line %.0f B/s: to application %.1f B/s (%.2f %%), "
                    "from application %.1f B/s (%.2f %%)\n",
                    c.baud, lineRate, toApplication, 100 * toApplication / lineRate, fromApplication,
                    100 * fromApplication / lineRate);
        EXPECT_NEAR(toApplication, lineRate, lineRate * 0.05);
        EXPECT_NEAR(fromApplication, lineRate, lineRate * 0.05);
        ASSERT_EQ(port->SetStrictBaudRate(0), 1);
        CloseApplication(*app);
    }
}

} // namespace
