#include "OpenCloseWatch.h"

#include <QSocketNotifier>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

std::shared_ptr<OpenCloseWatch> OpenCloseWatch::Shared() {
    static std::mutex guard;
    static std::weak_ptr<OpenCloseWatch> current;
    std::lock_guard lock(guard);
    std::shared_ptr<OpenCloseWatch> watch = current.lock();
    if (!watch) {
        watch.reset(new OpenCloseWatch());
        current = watch;
    }
    return watch;
}

OpenCloseWatch::OpenCloseWatch() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Deliver(); });
}

OpenCloseWatch::~OpenCloseWatch() {
    delete m_notifier;
    if (m_fd >= 0)
        close(m_fd);
}

int OpenCloseWatch::Add(const std::string& path, std::function<void()> notice) {
    if (m_fd < 0)
        return -1;
    std::lock_guard lock(m_mutex);
    const int watch = inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_CLOSE);
    if (watch >= 0)
        m_notices[watch] = std::move(notice);
    return watch;
}

void OpenCloseWatch::Remove(int watch) {
    std::lock_guard lock(m_mutex);
    if (m_notices.erase(watch) > 0)
        inotify_rm_watch(m_fd, watch);
}

void OpenCloseWatch::Deliver() {
    alignas(inotify_event) char buffer[4096];
    std::set<int> touched;
    ssize_t n;
    while ((n = read(m_fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            touched.insert(event->wd);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // Called without the lock: a notice may add or remove watches.
    for (int watch : touched) {
        std::function<void()> notice;
        {
            std::lock_guard lock(m_mutex);
            auto found = m_notices.find(watch);
            if (found == m_notices.end())
                continue;
            notice = found->second;
        }
        notice();
    }
}
