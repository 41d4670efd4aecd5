#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class QSocketNotifier;

// Tells ports when something opens or closes their device node. One inotify instance serves every port
// of the program: the system lets a user have only 128 of them, fewer than the ports we may make.
class OpenCloseWatch : public QObject {
public:
    // The program's instance; the first call must come from the thread that runs the event loop, where
    // the notices are delivered.
    static std::shared_ptr<OpenCloseWatch> Shared();
    ~OpenCloseWatch() override;

    // Calls `notice` (on the event-loop thread) after each open or close of `path`. Any thread. Returns
    // the watch, or -1.
    int Add(const std::string& path, std::function<void()> notice);
    // Any thread. A notice already being delivered may still arrive once.
    void Remove(int watch);

private:
    OpenCloseWatch();
    void Deliver();

    int m_fd;
    QSocketNotifier* m_notifier = nullptr;
    std::mutex m_mutex;
    std::map<int, std::function<void()>> m_notices;
};
