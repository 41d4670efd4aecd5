#include "CSignalWatcher.h"
#include "CStartSequence.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    // Until the window exists, the program runs the same way with and without this option.
    parser.addOption(QCommandLineOption("headless", "Run without any window; stop with SIGTERM or SIGINT."));
    parser.process(application);

    CSignalWatcher signalWatcher([](int) { QCoreApplication::quit(); });
    CStartSequence start;
    if (!start.Run())
        return 1;
    return application.exec();
}
