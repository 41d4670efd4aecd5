#include "CHeadlessProgram.h"

#include "CStartSequence.h"
#include "Paths.h"

#include <QCoreApplication>

namespace {

// How often a requested exit looks again whether the running job has ended.
constexpr int ExitRetryMs = 100;

} // namespace

CHeadlessProgram::CHeadlessProgram(CStartSequence& start)
    : m_notifier(start.ProgramLog()),
      m_engine(start.Store(), start.ProgramLog(), m_notifier,
               CPortEngine::PtyPorts(tolvex_paths::RuntimeDirectory().string())) {
    m_exitRetry.setInterval(ExitRetryMs);
    connect(&m_exitRetry, &QTimer::timeout, this, &CHeadlessProgram::RequestExit);
    connect(&m_engine, &CPortEngine::ExitFinished, this, [] { QCoreApplication::exit(0); });
}

void CHeadlessProgram::Start() {
    m_engine.Start();
}

void CHeadlessProgram::RequestExit() {
    if (m_exiting)
        return;
    if (m_engine.JobInProgress()) {
        m_exitRetry.start();
        return;
    }
    m_exitRetry.stop();
    m_exiting = true;
    m_engine.DeleteAllAtExit();
}
