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
        // The storage folder exists: no first start, so no relaunch after the run.
        QDir(tmp.path()).mkpath("ozk");
        env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
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
        QFile f(tmp.filePath("ozk/ozk.log"));
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
    // The socket file's inode; 0 when there is none.
    ino_t serverInode() const {
        struct stat st {};
        return ::stat(QFile::encodeName(serverPath()).constData(), &st) == 0 ? st.st_ino : 0;
    }
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
    bool waitUntilEnded(qint64 pid, int timeoutMs = 120000) {
        QElapsedTimer t;
        t.start();
        while (alive(pid)) {
            if (t.elapsed() > timeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }
    // Every process running the program with this test's environment. A relaunch is started
    // before the process that makes it ends, so once that one has ended this sees it.
    QList<qint64> programProcesses() const {
        const QString program =
            QFileInfo(QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix")).canonicalFilePath();
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
    // Sends raw bytes to the running instance and collects what comes back within a moment.
    QByteArray exchange(QLocalSocket &socket, const QByteArray &bytes, int expectAtLeast) {
        socket.write(bytes);
        socket.waitForBytesWritten(2000);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        // Answers are waited for as long as a slow run needs; only "no answer" takes a fixed
        // moment to observe.
        const int limit = expectAtLeast > 0 ? 60000 : 3000;
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

TEST_F(InstanceTest, AFirstStartEndsWithARelaunch) {
    QDir(tmp.filePath("ozk")).removeRecursively();
    QProcess *first = launch();
    ASSERT_TRUE(waitForLog("this is the only instance")) << log().toStdString();
    QElapsedTimer listening;
    listening.start();
    while (serverInode() == 0 && listening.elapsed() < 60000)
        QThread::msleep(20);
    const ino_t firstSocket = serverInode();
    ASSERT_NE(firstSocket, ino_t(0));
    first->terminate(); // ends the run like the tray's close
    ASSERT_TRUE(first->waitForFinished(120000));
    EXPECT_EQ(first->exitCode(), 0);
    // Its socket is gone; when its exit was slow the relaunched instance may already have
    // made a new one under the same name.
    EXPECT_NE(serverInode(), firstSocket);

    // Two seconds later the program is running again, as the only instance.
    QLocalSocket socket;
    QElapsedTimer t;
    t.start();
    do {
        socket.connectToServer(serverPath());
    } while (!socket.waitForConnected(500) && t.elapsed() < 120000);
    ASSERT_EQ(socket.state(), QLocalSocket::ConnectedState) << log().toStdString();
    const QByteArray answer = exchange(socket, "CMD:show;", 1);
    ASSERT_TRUE(answer.startsWith("RES:")) << answer.toStdString();
    const qint64 relaunched = answer.mid(4, answer.size() - 5).toLongLong();
    EXPECT_NE(relaunched, first->processId());
    EXPECT_EQ(log().count("this is the only instance"), 2);
    // The storage folder exists now: no further relaunch after this run.
    ::kill(pid_t(relaunched), SIGTERM);
    ASSERT_TRUE(waitUntilEnded(relaunched));
    EXPECT_TRUE(programProcesses().isEmpty());
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
