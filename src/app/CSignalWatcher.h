#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGTERM and SIGINT into a call on the event loop's thread: the handler only writes the signal
// number into a pipe, which the loop watches.
class CSignalWatcher {
public:
    explicit CSignalWatcher(std::function<void(int)> onSignal);
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;
    ~CSignalWatcher();

private:
    static void Handler(int signalNumber);
    void Drain();

    static int s_writeDescriptor;
    int m_pipe[2] = {-1, -1};
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
