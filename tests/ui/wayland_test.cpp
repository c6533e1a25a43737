// The program and a drag request under a Wayland compositor (weston's headless back end),
// where a window cannot place itself and moves are handed to the compositor.
#include "../browser/engine_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

using namespace torvanix;
using namespace torvanix::testing;

namespace {

const char *const kChild = "TORVANIX_WAYLAND_CHILD";

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsSet(kChild))
            GTEST_SKIP() << "runs in the parent only";
        const QString weston = QStandardPaths::findExecutable("weston");
        const QString plugin =
            QLibraryInfo::location(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
        if (weston.isEmpty() || !QFile::exists(plugin))
            GTEST_SKIP() << "weston or the Wayland platform plugin is not installed";
        ASSERT_TRUE(tmp.isValid());
        runtime = tmp.filePath("runtime");
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
        compositor.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        compositor.setProcessEnvironment(env);
        compositor.start(weston, {"--backend=headless-backend.so", "--socket=torvanix-test",
                                  "--width=1366", "--height=768", "--idle-time=0"});
        ASSERT_TRUE(compositor.waitForStarted(10000));
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(runtime + "/torvanix-test"); }, 20000))
            << compositor.readAll().toStdString();
    }
    void TearDown() override {
        if (compositor.state() != QProcess::NotRunning) {
            compositor.terminate();
            if (!compositor.waitForFinished(10000))
                compositor.kill();
        }
    }
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("WAYLAND_DISPLAY", "torvanix-test");
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("TMPDIR", tmp.path());
        env.insert("XDG_STATE_HOME", tmp.filePath("state"));
        env.remove("DISPLAY");
        return env;
    }

    QTemporaryDir tmp;
    QString runtime;
    QProcess compositor;
};

} // namespace

TEST_F(WaylandTest, TheProgramStartsAndEndsUnderTheCompositor) {
    QDir(tmp.path()).mkpath("state/torvanix");
    QFile marker(tmp.filePath("state/torvanix/first-start-done"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    QProcess program;
    program.setProcessEnvironment(clientEnvironment());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix"), QStringList());
    ASSERT_TRUE(program.waitForStarted(10000));
    auto log = [&] {
        QFile f(runtime + "/torvanix/ozk.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    EXPECT_TRUE(waitUntil([&] { return log().contains("this is the only instance"); }, 60000))
        << log().toStdString();
    // Still running with its window a moment later.
    EXPECT_FALSE(program.waitForFinished(3000)) << program.readAll().toStdString();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAll().toStdString();
    EXPECT_EQ(program.exitCode(), 0);
}

TEST_F(WaylandTest, ADragRequestIsAnsweredUnderTheCompositor) {
    QProcess child;
    QProcessEnvironment env = clientEnvironment();
    env.insert(kChild, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=WaylandChild.*"});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

// Runs inside the compositor session started by the test above.
TEST(WaylandChild, MoveWindowIsAnsweredAndKeepsTheWindow) {
    if (!qEnvironmentVariableIsSet(kChild))
        GTEST_SKIP() << "runs under the compositor only";
    ASSERT_TRUE(QGuiApplication::platformName().startsWith("wayland"));
    EngineHarness &harness = EngineHarness::get();
    BrowserView view(nullptr, &harness.handler());
    view.resize(640, 480);
    view.show();
    ASSERT_TRUE(loadAndWait(&view, harness.page("plain.html"), 60000));
    runJs(view.page(), "q('MoveWindow:10,-5,0,0')");
    EXPECT_TRUE(waitFor(
        [&] {
            return runJs(view.page(), "JSON.stringify(__log)")
                .toString()
                .contains(R"(["ok","MoveWindow:10,-5,0,0",""])");
        },
        15000));
    EXPECT_TRUE(view.isVisible());
}
