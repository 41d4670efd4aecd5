#include "CJobThread.h"

CJobThread::~CJobThread() {
    if (m_thread.joinable())
        m_thread.join();
}

void CJobThread::Start(std::function<void()> job) {
    // The previous worker was cleared by its last message and has returned, or is about to.
    if (m_thread.joinable())
        m_thread.join();
    m_set = true;
    m_thread = std::thread(std::move(job));
}
