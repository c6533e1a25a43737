#include <QFile>
#include <QTemporaryDir>
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
    // What the program keeps in the user's data folder (devices waiting in their boot loader)
    // goes to a folder of this run, for the programs the tests start as well.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
