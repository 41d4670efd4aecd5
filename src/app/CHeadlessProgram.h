#pragma once

#include "CConsoleNotifier.h"
#include "CPortEngine.h"

#include <QObject>
#include <QTimer>

class CStartSequence;

// The program without any window: the port engine on the store and program log of the start sequence,
// until SIGTERM or SIGINT asks it to end; then every port's device is deleted, the store is left as it is,
// and the event loop ends with 0.
class CHeadlessProgram : public QObject {
    Q_OBJECT
public:
    explicit CHeadlessProgram(CStartSequence& start);

    // Loads the stored ports and starts the supervision.
    void Start();
    // The exit procedure; while a job runs it waits for the job to end first.
    void RequestExit();

private:
    CConsoleNotifier m_notifier;
    CPortEngine m_engine;
    QTimer m_exitRetry;
    bool m_exiting = false;
};
