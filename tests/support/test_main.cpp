#include <gtest/gtest.h>

#ifdef TORVANIX_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

// Tests that use queued signals, timers or the thread pool need an application object and
// sometimes run its event loop; one per process, created before any test.
int main(int argc, char **argv) {
    qputenv("TORVANIX_NO_PAUSE", "1");
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
