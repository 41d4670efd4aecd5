#include <QCoreApplication>
#include <gtest/gtest.h>

// Test main for tests that need an event loop (socket notifiers, timers, queued calls).
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
