#include "CHeadlessProgram.h"
#include "CSignalWatcher.h"
#include "CStartSequence.h"
#include "OpenFileLimit.h"
#include "TlsLibrary.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    // Until the window exists, the program runs the same way with and without this option.
    parser.addOption(QCommandLineOption("headless", "Run without any window; stop with SIGTERM or SIGINT."));
    parser.process(application);

    CHeadlessProgram* running = nullptr;
    CSignalWatcher signalWatcher([&running](int) {
        if (running)
            running->RequestExit();
        else
            QCoreApplication::quit();
    });
    CStartSequence start;
    if (!start.Run())
        return 1;

    InitializeTlsLibrary();
    int exitCode = 0;
    {
        CHeadlessProgram program(start);
        running = &program;
        program.Start();
        exitCode = application.exec();
        running = nullptr;
    }
    ReleaseTlsLibrary();
    return exitCode;
}
