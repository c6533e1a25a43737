// The program itself: one instance per session over the local socket.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kServer = QStringLiteral("Global\\{5a283c02-b5de-44b3-977a-7043851a99b8}");

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        // The first-start marker exists: no first start, so no relaunch after the run.
        QDir(tmp.path()).mkpath("ozk");
        QDir(tmp.path()).mkpath("state/torvanix");
        QFile marker(markerPath());
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        marker.close();
        env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("XDG_STATE_HOME", tmp.filePath("state"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("XDG_RUNTIME_DIR", tmp.path());
    }
    void TearDown() override {
        for (QProcess *p : processes) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
            delete p;
        }
    }

    QProcess *launch() {
        auto *p = new QProcess;
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix"), QStringList());
        processes << p;
        return p;
    }
    QString log() const {
        QFile f(env.value("XDG_RUNTIME_DIR") + "/torvanix/ozk.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool waitForLog(const QString &text, int timeoutMs = 30000) {
        QElapsedTimer t;
        t.start();
        while (!log().contains(text)) {
            if (t.elapsed() > timeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }
    QString serverPath() const { return tmp.path() + "/" + kServer; }
    // Running (not merely a zombie nobody reaped).
    static bool alive(qint64 pid) {
        if (::kill(pid_t(pid), 0) != 0)
            return false;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        return close < 0 || line.mid(close + 2, 1) != "Z";
    }
    // Every process running the program with this test's environment. A relaunch would be
    // started before the process that makes it ends, so once that one has ended this sees it.
    QList<qint64> programProcesses(const QString &name = QStringLiteral("torvanix")) const {
        const QString program =
            QFileInfo(QStringLiteral(TORVANIX_PROGRAM_DIR "/") + name).canonicalFilePath();
        const QByteArray marker = "TMPDIR=" + QFile::encodeName(tmp.path());
        QList<qint64> found;
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool numeric = false;
            const qint64 pid = entry.toLongLong(&numeric);
            if (!numeric || !alive(pid) ||
                QFileInfo("/proc/" + entry + "/exe").symLinkTarget() != program)
                continue;
            QFile environ("/proc/" + entry + "/environ");
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
                found << pid;
        }
        return found;
    }
    QString markerPath() const { return tmp.filePath("state/torvanix/first-start-done"); }
    // Sends raw bytes to the running instance and collects what comes back within a moment.
    QByteArray exchange(QLocalSocket &socket, const QByteArray &bytes, int expectAtLeast) {
        socket.write(bytes);
        socket.waitForBytesWritten(2000);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        // An instance still starting its window (slow under the sanitizers) answers late.
        const int limit = expectAtLeast > 0 ? 20000 : 3000;
        while (t.elapsed() < limit && got.count(';') < expectAtLeast) {
            if (socket.waitForReadyRead(100))
                got += socket.readAll();
        }
        QThread::msleep(200);
        if (socket.waitForReadyRead(100))
            got += socket.readAll();
        return got;
    }

    QTemporaryDir tmp;
    QProcessEnvironment env;
    QList<QProcess *> processes;
};

} // namespace

TEST_F(InstanceTest, ASecondStartAsksTheFirstToShowAndQuits) {
    QProcess *first = launch();
    ASSERT_TRUE(first->waitForStarted(10000));
    ASSERT_TRUE(waitForLog("this is the only instance")) << log().toStdString();
    ASSERT_TRUE(QFile::exists(serverPath()));

    QProcess *second = launch();
    ASSERT_TRUE(second->waitForFinished(60000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(log().contains(
        QString("show command response received, pid = %1, activating").arg(first->processId())))
        << log().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // The protocol as a later instance speaks it, byte by byte.
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    ASSERT_TRUE(socket.waitForConnected(5000));
    const QByteArray res = QString("RES:%1;").arg(first->processId()).toUtf8();
    EXPECT_EQ(exchange(socket, "CMD:show;CMD:show;", 2), res + res);
    EXPECT_EQ(exchange(socket, "CMD:sh", 0), QByteArray());
    EXPECT_EQ(exchange(socket, "ow;", 1), res);
    // Another name is answered and does nothing; a segment without "CMD:" is not answered.
    EXPECT_EQ(exchange(socket, "CMD:other;bogus;CMD:show;", 2), res + res);
    EXPECT_TRUE(waitForLog("unknown command bogus passed in local socket"));
}

// The first start is the first run after install, remembered in the user's state folder (not
// in the temp folder, which each boot empties). A stop signal, as the session sends it at
// logout, ends that run without the relaunch that the tray's close or FirstStart lead to.
TEST_F(InstanceTest, AFirstStartStoppedByTheSessionIsNotRelaunched) {
    QFile::remove(markerPath());
    QDir(tmp.filePath("ozk")).removeRecursively();
    QProcess *first = launch();
    ASSERT_TRUE(waitForLog("this is the only instance")) << log().toStdString();
    EXPECT_TRUE(QFile::exists(markerPath()));
    // The window program it started ends with it.
    ASSERT_TRUE(waitForLog("window program connected")) << log().toStdString();
    ASSERT_FALSE(programProcesses("torvanix-ui").isEmpty());
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(30000));
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(serverPath()));
    EXPECT_TRUE(log().contains("stop signal received"));

    // Nothing starts again after the relaunch delay.
    QThread::msleep(3500);
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    EXPECT_FALSE(socket.waitForConnected(500));
    EXPECT_EQ(log().count("this is the only instance"), 1);
    EXPECT_TRUE(programProcesses().isEmpty());
    EXPECT_TRUE(programProcesses("torvanix-ui").isEmpty());
}

// An instance that cannot listen on its socket (here: a runtime folder whose path is too long
// for a local socket) ends at once with a log line instead of running on with no window,
// where not even a stop signal ended it.
TEST_F(InstanceTest, AnInstanceThatCannotListenEndsAtOnce) {
    const QString deep =
        tmp.filePath(QString(60, 'r') + "/" + QString(60, 'u') + "/" + QString(60, 'n'));
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QFile::setPermissions(deep, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner));
    env.insert("XDG_RUNTIME_DIR", deep);
    QProcess *first = launch();
    const bool ended = first->waitForFinished(60000);
    if (!ended)
        first->terminate();
    ASSERT_TRUE(ended || first->waitForFinished(10000)) << "not even SIGTERM ended it";
    EXPECT_TRUE(ended) << log().toStdString();
    EXPECT_EQ(first->exitCode(), 1);
    EXPECT_TRUE(log().contains("failed to start listening")) << log().toStdString();
}

TEST_F(InstanceTest, ASocketLeftByACrashedInstanceDoesNotBlockTheNextStart) {
    // A socket file nobody listens on, as a killed instance leaves it.
    const QByteArray path = serverPath().toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof(addr.sun_path));
    memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(serverPath()));

    QProcess *first = launch();
    ASSERT_TRUE(waitForLog("starting server and app")) << log().toStdString();
    QLocalSocket socket;
    QElapsedTimer t;
    t.start();
    do {
        socket.connectToServer(serverPath());
    } while (!socket.waitForConnected(500) && t.elapsed() < 20000);
    ASSERT_EQ(socket.state(), QLocalSocket::ConnectedState) << log().toStdString();
    EXPECT_EQ(exchange(socket, "CMD:show;", 1),
              QString("RES:%1;").arg(first->processId()).toUtf8());
    EXPECT_FALSE(log().contains("failed to start listening"));
}
