// Prints, for the headless program and for socat on the same machine in the same run: the throughput of
// 50 MB from an application through a port to a TCP echo peer on loopback and back (for the program with
// that port alone and beside 255 idle ones), the median and 99th percentile of a one-byte round trip, and
// the CPU an idle program uses over 10 seconds.
// `tolvex_bench data` prints the data figures only, for quick comparisons while tuning.

#include "CRegistryDatabase.h"
#include "CRegistryStore.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t ThroughputBytes = 50u * 1024 * 1024;
constexpr int LatencyRounds = 2000;
constexpr int IdlePorts = 256;
constexpr int IdleSeconds = 10;

// A TCP peer on 127.0.0.1 that sends back every byte it receives, one connection at a time.
class EchoPeer {
public:
    EchoPeer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 4);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~EchoPeer() {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    int Port() const { return m_port; }

private:
    void Serve() {
        while (!m_stop) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            const int on = 1;
            ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            char buffer[65536];
            for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;)
                for (ssize_t done = 0, w; done < n && (w = ::write(connection, buffer + done, n - done)) > 0;)
                    done += w;
            ::close(connection);
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// A child process; SIGTERM and wait when it goes.
class Child {
public:
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> environmentText;
        for (char** entry = environ; *entry; ++entry)
            environmentText.emplace_back(*entry);
        environmentText.insert(environmentText.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> envp;
        for (std::string& entry : environmentText)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::seconds timeout = std::chrono::seconds(30)) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int OpenApplication(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B115200);
    ::tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

// MB/s of 50 MB written to the port and read back from it, both at once.
double Throughput(int fd) {
    std::vector<char> block(16384, 'x');
    const auto start = Clock::now();
    std::thread writer([&] {
        for (std::size_t sent = 0; sent < ThroughputBytes;) {
            const ssize_t n = ::write(fd, block.data(), std::min(block.size(), ThroughputBytes - sent));
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    });
    std::vector<char> buffer(65536);
    std::size_t received = 0;
    while (received < ThroughputBytes) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 10000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    writer.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return received < ThroughputBytes ? 0.0 : ThroughputBytes / 1e6 / seconds;
}

// Median and 99th percentile of one-byte round trips, in microseconds.
std::pair<double, double> Latency(int fd) {
    std::vector<double> rounds;
    for (int i = 0; i < LatencyRounds; ++i) {
        const char byte = static_cast<char>('a' + i % 26);
        char back = 0;
        const auto start = Clock::now();
        if (::write(fd, &byte, 1) != 1)
            break;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 5000) <= 0 || ::read(fd, &back, 1) != 1)
            break;
        rounds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (rounds.empty())
        return {0, 0};
    std::sort(rounds.begin(), rounds.end());
    return {rounds[rounds.size() / 2], rounds[std::min(rounds.size() - 1, rounds.size() * 99 / 100)]};
}

// CPU time of the process in seconds (user and system).
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            user = std::stoull(field);
        if (index == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double IdleCpuPercent(const std::vector<pid_t>& pids) {
    double before = 0;
    for (pid_t pid : pids)
        before += CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(IdleSeconds));
    double after = 0;
    for (pid_t pid : pids)
        after += CpuSeconds(pid);
    return (after - before) / IdleSeconds * 100.0;
}

// A home, configuration and runtime folder for one run of the program.
struct ProgramFolders {
    explicit ProgramFolders(const std::string& root) : root(root) {
        fs::create_directories(root + "/config/tolvex");
        fs::create_directories(root + "/runtime");
        fs::permissions(root + "/runtime", fs::perms::owner_all);
    }
    std::vector<std::string> Environment() const {
        return {"HOME=" + root, "XDG_CONFIG_HOME=" + root + "/config",
                "XDG_RUNTIME_DIR=" + root + "/runtime"};
    }
    std::string Link(const std::string& name) const { return root + "/runtime/tolvex/" + name; }
    void StoreClientPort(const std::string& name, int peerPort) const {
        CRegistryDatabase database(root + "/config/tolvex/registry.db");
        CRegistryStore store(database);
        CVSPDataBasic port;
        port.PortName = name;
        port.PeerName = "127.0.0.1";
        port.PeerPort = peerPort;
        store.SavePort(port);
    }
    // Server ports COM<firstNumber> onwards.
    void StoreServerPorts(int count, int firstNumber, int firstLocalPort) const {
        CRegistryDatabase database(root + "/config/tolvex/registry.db");
        CRegistryStore store(database);
        for (int i = 0; i < count; ++i) {
            CVSPDataBasic port;
            port.PortName = "COM" + std::to_string(firstNumber + i);
            port.VspMode = VSP_MODE_TCP_SERVER;
            port.LocalPort = firstLocalPort + i;
            store.SavePort(port);
        }
    }
    std::string root;
};

void PrintDataFigures(const char* who, int fd, pid_t pid) {
    const double cpuBefore = CpuSeconds(pid);
    const auto start = Clock::now();
    const double megabytesPerSecond = Throughput(fd);
    // CPU time for the transfer tells more than the rate on a machine others share.
    const double cpuUsed = CpuSeconds(pid) - cpuBefore;
    const double cpuShare = cpuUsed / std::chrono::duration<double>(Clock::now() - start).count() * 100.0;
    const auto [median, p99] = Latency(fd);
    std::printf(
        "%-10s throughput %8.1f MB/s (CPU %5.1f %%, %5.2f s)   round trip median %8.1f us   p99 %8.1f "
        "us\n",
        who, megabytesPerSecond, cpuShare, cpuUsed, median, p99);
}

} // namespace

int main(int argc, char** argv) {
    const bool dataOnly = argc > 1 && std::string(argv[1]) == "data";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char rootTemplate[] = "/tmp/tolvex-bench-XXXXXX";
    if (!::mkdtemp(rootTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = rootTemplate;
    std::signal(SIGPIPE, SIG_IGN);
    EchoPeer echo;

    std::printf("50 MB through a port to a TCP echo peer and back; %d one-byte round trips\n", LatencyRounds);
    // The busy port alone, then beside idle ports that every pass also visits.
    for (int ports : {1, IdlePorts}) {
        ProgramFolders folders(root + "/data" + std::to_string(ports));
        folders.StoreClientPort("COM1", echo.Port());
        folders.StoreServerPorts(ports - 1, 2, 44000);
        Child program({TOLVEX_BINARY, "--headless"}, folders.Environment());
        const std::string last = folders.Link("COM" + std::to_string(ports));
        if (!WaitUntil([&] { return fs::exists(folders.Link("COM1")) && fs::exists(last); }))
            return 1;
        const int fd = OpenApplication(folders.Link("COM1"));
        // Let the program see the open before data flows.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        PrintDataFigures(("tolvex " + std::to_string(ports)).c_str(), fd, program.Pid());
        ::close(fd);
    }
    {
        const std::string link = root + "/socat-port";
        Child socat(
            {"socat", "PTY,link=" + link + ",raw,echo=0", "TCP:127.0.0.1:" + std::to_string(echo.Port())},
            {});
        if (!WaitUntil([&] { return fs::exists(link); }))
            return 1;
        const int fd = OpenApplication(link);
        PrintDataFigures("socat", fd, socat.Pid());
        ::close(fd);
    }

    if (dataOnly) {
        fs::remove_all(root);
        return 0;
    }
    std::printf("CPU of an idle program over %d s (percent of one core)\n", IdleSeconds);
    for (int ports : {0, IdlePorts}) {
        ProgramFolders folders(root + "/idle" + std::to_string(ports));
        if (ports > 0)
            folders.StoreServerPorts(ports, 1, 42000);
        Child program({TOLVEX_BINARY, "--headless"}, folders.Environment());
        const std::string last = folders.Link("COM" + std::to_string(std::max(ports, 1)));
        if (ports > 0 && !WaitUntil([&] { return fs::exists(last); }))
            return 1;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("tolvex   %3d ports: %6.3f %%\n", ports, IdleCpuPercent({program.Pid()}));
    }
    for (int ports : {1, IdlePorts}) {
        std::vector<std::unique_ptr<Child>> instances;
        std::vector<pid_t> pids;
        for (int i = 0; i < ports; ++i) {
            instances.push_back(std::make_unique<Child>(
                std::vector<std::string>{
                    "socat", "PTY,link=" + root + "/idle-socat" + std::to_string(i) + ",raw,echo=0",
                    "TCP-LISTEN:" + std::to_string(43000 + i) + ",bind=127.0.0.1,reuseaddr"},
                std::vector<std::string>{}));
            pids.push_back(instances.back()->Pid());
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("socat    %3d ports: %6.3f %% (%d processes)\n", ports, IdleCpuPercent(pids), ports);
    }
    fs::remove_all(root);
    return 0;
}
