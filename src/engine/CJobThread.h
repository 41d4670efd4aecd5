#pragma once

#include <atomic>
#include <functional>
#include <thread>

// The one worker thread of long port operations. Set while a job runs; the job's last message to the GUI
// thread clears it, after which the thread only returns.
class CJobThread {
public:
    CJobThread() = default;
    CJobThread(const CJobThread&) = delete;
    CJobThread& operator=(const CJobThread&) = delete;
    ~CJobThread();

    bool IsSet() const { return m_set; }
    // Runs the job on a new thread; the caller has checked that none is set.
    void Start(std::function<void()> job);
    void Clear() { m_set = false; }

private:
    std::thread m_thread;
    std::atomic<bool> m_set = false;
};
