// The helper programs the page commands start: the picture converter, the update packer and
// the updater, run as the program runs them.
#include "../dispatch/page_test_support.h"

#include "device/client_update.h"
#include "screen/screen_pictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

const QString Bin = QStringLiteral(TORVANIX_PROGRAM_DIR);

int run(const QString &program, const QStringList &args, const QString &cwd = QString(),
        QString *output = nullptr) {
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(Bin + "/" + program, args);
    if (!p.waitForFinished(60000))
        return -100;
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -101;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// What the unpacking step leaves for the updater: the list of the files it wrote, those it
// made executable marked so.
void writeManifest(const QString &program, const QStringList &paths) {
    QJsonArray files;
    for (const QString &path : paths) {
        const QByteArray bytes = readAll(program + "/update/" + path);
        files.append(QJsonObject{
            {"path", path},
            {"size", bytes.size()},
            {"sha256", QString::fromLatin1(
                           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())},
            {"executable", QFileInfo(program + "/update/" + path).isExecutable()}});
    }
    writeAll(program + "/update.manifest", QJsonDocument(QJsonObject{{"files", files}}).toJson());
}

unsigned mode(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool waitForFile(const QString &path) {
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(path) && waited.elapsed() < 10000)
        QThread::msleep(20);
    return QFile::exists(path);
}

} // namespace

TEST(PictureConverter, WritesTheScreenBinaryFromTheParameterString) {
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/screen");
    QImage picture(320, 172, QImage::Format_RGB32);
    picture.fill(qRgb(0xFF, 0, 0));
    picture.setPixel(319, 171, qRgb(0, 0, 0xFF));
    ASSERT_TRUE(picture.save(dir.path() + "/screen/a.png"));

    const QString params =
        "name=temp_abc&img=screen/a.png&format=bin_565_swap&cf=true_color&outdir=screen/";
    ASSERT_EQ(run("torvanix-imgconv", {params}, dir.path()), 0);
    const QByteArray bin = readAll(dir.path() + "/screen/temp_abc.bin");
    ASSERT_EQ(bin.size(), 4 + 320 * 172 * 2);
    EXPECT_EQ(qFromLittleEndian<quint32>(bin.constData()), 4u | (320u << 10) | (172u << 21));
    EXPECT_EQ(bin.mid(4, 2), QByteArray::fromHex("f800"));
    EXPECT_EQ(bin.right(2), QByteArray::fromHex("001f"));

    ASSERT_EQ(run("torvanix-imgconv",
                  {"name=plain&img=screen/a.png&format=bin_565&cf=true_color&outdir=out"},
                  dir.path()),
              0);
    EXPECT_EQ(readAll(dir.path() + "/out/plain.bin").mid(4, 2), QByteArray::fromHex("00f8"));

    EXPECT_EQ(run("torvanix-imgconv", {"name=x&img=screen/missing.png"}, dir.path()), 1);
    EXPECT_EQ(run("torvanix-imgconv", {"name=../x&img=screen/a.png"}, dir.path()), 2);
    EXPECT_EQ(run("torvanix-imgconv", {"name=x&img=screen/a.png&cf=alpha_8bit"}, dir.path()), 2);
    EXPECT_EQ(run("torvanix-imgconv", {"garbage"}, dir.path()), 2);
}

TEST(PictureConverter, ImageConvBinRunsItInTheProgramFolder) {
    PageFixture f;
    const QString dir = f.programDir.path();
    ASSERT_TRUE(QFile::link(Bin + "/torvanix-imgconv", dir + "/torvanix-imgconv"));
    QImage picture(320, 172, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QDir().mkpath(dir + "/screen");
    ASSERT_TRUE(picture.save(dir + "/screen/a.png"));
    const Answer a = f.call(R"({"FuncName":"ImageConvBin","ImageName":"a.png"})");
    EXPECT_EQ(a.kind, Answer::Success);
    EXPECT_EQ(a.text, "");
    EXPECT_EQ(readAll(dir + "/screen/temp_abc.bin").size(), 4 + 320 * 172 * 2);
}

TEST(UpdatePackage, PackerOutputUnpacksToTheSameFiles) {
    QTemporaryDir dir;
    const QString release = dir.path() + "/release";
    writeAll(release + "/torvanix", "#!/bin/sh\nexit 0\n");
    writeAll(release + "/lib/libUsbInterface.so", QByteArray(5000, 'L'));
    writeAll(release + "/theme/Galecrafter/client.html", "<html/>");
    QFile::setPermissions(release + "/torvanix",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A key made for the test; the release key's secret never comes near the tests.
    const QString secret = dir.path() + "/test.key", publicFile = dir.path() + "/test.pub";
    ASSERT_EQ(run("torvanix-updatepack", {"--make-key", secret, publicFile}), 0);
    EXPECT_EQ(run("torvanix-updatepack", {"--make-key", secret, publicFile}), 1) << "kept";
    QByteArray publicKey;
    ASSERT_TRUE(client_update::readKeyFile(publicFile, 32, &publicKey));
    QString output;
    EXPECT_EQ(run("torvanix-updatepack", {release, dir.path() + "/up.pkg"}), 2) << "needs a key";
    ASSERT_EQ(run("torvanix-updatepack",
                  {"--key", secret, "--label", "2.0.0", release, dir.path() + "/up.pkg"}, QString(),
                  &output),
              0)
        << output;
    EXPECT_TRUE(output.contains("3 entries"));

    const QString update = dir.path() + "/program/update";
    EXPECT_EQ(client_update::runClientUpdate(dir.path() + "/up.pkg", update), 0)
        << "not signed with the release key";
    ASSERT_EQ(client_update::runClientUpdate(dir.path() + "/up.pkg", update, publicKey), 1);
    for (const char *file :
         {"/torvanix", "/lib/libUsbInterface.so", "/theme/Galecrafter/client.html"})
        EXPECT_EQ(readAll(update + file), readAll(release + file)) << file;

    EXPECT_EQ(run("torvanix-updatepack",
                  {"--key", secret, dir.path() + "/missing", dir.path() + "/x.pkg"}),
              1);
    EXPECT_EQ(run("torvanix-updatepack", {}), 2);
}

TEST(Updater, InstallsTheUpdateFolderOverTheProgramAndRestartsIt) {
    QTemporaryDir dir;
    const QString program = dir.path();
    writeAll(program + "/keep.txt", "untouched");
    writeAll(program + "/lib/old.so", "old");
    writeAll(program + "/update/lib/old.so", "new");
    writeAll(program + "/update/share/new.txt", "added");
    // The program: a script that leaves a mark when it is started again.
    writeAll(program + "/update/torvanix",
             QStringLiteral("#!/bin/sh\necho started > \"%1/restarted\"\n").arg(program).toUtf8());
    QFile::setPermissions(program + "/update/torvanix",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeManifest(program, {"lib/old.so", "share/new.txt", "torvanix"});
    // Dropped into the folder after the unpacking (a download): not in the list, never
    // installed.
    writeAll(program + "/update/libUsbInterface.so", "planted");

    EXPECT_EQ(run("torvanix-updater", {"--program-dir", program}), 2) << "needs --Upgrade";
    QString output;
    ASSERT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program}, QString(), &output),
              0)
        << output;
    EXPECT_EQ(readAll(program + "/lib/old.so"), "new");
    EXPECT_EQ(readAll(program + "/share/new.txt"), "added");
    EXPECT_EQ(readAll(program + "/keep.txt"), "untouched");
    EXPECT_FALSE(QFileInfo::exists(program + "/update"));
    EXPECT_FALSE(QFileInfo::exists(program + "/update.manifest"));
    EXPECT_FALSE(QFileInfo::exists(program + "/libUsbInterface.so"));
    EXPECT_TRUE(QFileInfo(program + "/torvanix").isExecutable());
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(program + "/restarted") && waited.elapsed() < 10000)
        QThread::msleep(20);
    EXPECT_TRUE(QFile::exists(program + "/restarted"));

    EXPECT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program, "--no-restart"}), 1)
        << "nothing left to install";
}

TEST(Updater, WaitsForTheRunningProgramToEnd) {
    QTemporaryDir dir;
    const QString program = dir.path();
    // A real executable under the program's name, still running when the updater starts.
    ASSERT_TRUE(QFile::copy("/bin/sleep", program + "/torvanix"));
    QFile::setPermissions(program + "/torvanix",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeAll(program + "/update/data.txt", "new");
    writeManifest(program, {"data.txt"});
    QProcess running;
    running.start(program + "/torvanix", {"1.5"});
    ASSERT_TRUE(running.waitForStarted());

    QElapsedTimer took;
    took.start();
    EXPECT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program, "--no-restart"}), 0);
    EXPECT_GE(took.elapsed(), 1000) << "installed while the program still ran";
    EXPECT_EQ(readAll(program + "/data.txt"), "new");
    running.waitForFinished();

    // A program that does not end in time leaves everything as it was.
    writeAll(program + "/update/data.txt", "newer");
    writeManifest(program, {"data.txt"});
    running.start(program + "/torvanix", {"5"});
    ASSERT_TRUE(running.waitForStarted());
    EXPECT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program, "--wait", "1"}), 1);
    EXPECT_EQ(readAll(program + "/data.txt"), "new");
    running.kill();
    running.waitForFinished();
}

TEST(Updater, AFileChangedAfterTheUnpackStopsTheWholeInstall) {
    QTemporaryDir dir;
    const QString program = dir.path();
    writeAll(program + "/lib/a.so", "old a");
    writeAll(program + "/update/lib/a.so", "new a");
    writeAll(program + "/update/lib/libUsbInterface.so", "unpacked");
    writeManifest(program, {"lib/a.so", "lib/libUsbInterface.so"});
    writeAll(program + "/update/lib/libUsbInterface.so", "replaced by a download");
    EXPECT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program, "--no-restart"}), 1);
    EXPECT_EQ(readAll(program + "/lib/a.so"), "old a");
    EXPECT_FALSE(QFile::exists(program + "/lib/libUsbInterface.so"));
    EXPECT_FALSE(QFile::exists(program + "/update")) << "nothing of it is left for later";
    EXPECT_FALSE(QFile::exists(program + "/update.manifest"));
}

// The whole road of a release: packed and signed, unpacked by the update command, installed
// by the updater, and the installed program starts.
TEST(UpdateChain, AnInstalledProgramKeepsRunningAndNewProgramFilesRun) {
    QTemporaryDir dir;
    const QString program = dir.path() + "/program";
    writeAll(program + "/torvanix", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(program + "/torvanix", QFileDevice::Permissions(0x7755));
    writeAll(program + "/settings.conf", "old");
    QFile::setPermissions(program + "/settings.conf", QFile::ReadOwner | QFile::WriteOwner);

    const QString release = dir.path() + "/release";
    writeAll(release + "/torvanix",
             QStringLiteral("#!/bin/sh\n\"%1/bin/helper\"\n").arg(program).toUtf8());
    writeAll(release + "/bin/helper",
             QStringLiteral("#!/bin/sh\necho started > \"%1/restarted\"\n").arg(program).toUtf8());
    QFile::setPermissions(release + "/torvanix", QFileDevice::Permissions(0x7700));
    QFile::setPermissions(release + "/bin/helper", QFileDevice::Permissions(0x7700));
    writeAll(release + "/settings.conf", "new");
    writeAll(release + "/share/readme", "text");
    const QString secret = dir.path() + "/test.key", publicFile = dir.path() + "/test.pub";
    ASSERT_EQ(run("torvanix-updatepack", {"--make-key", secret, publicFile}), 0);
    const QString pkg = dir.path() + "/up.pkg";
    EXPECT_EQ(run("torvanix-updatepack", {"--key", secret, "--label", "next", release, pkg}), 2);
    // Without a label the package carries the packer's own version.
    QString output;
    ASSERT_EQ(run("torvanix-updatepack", {"--key", secret, release, pkg}, QString(), &output), 0)
        << output;

    PageServices services;
    services.programDir = program;
    QStringList launched;
    services.startDetached = [&](const QString &updater, const QStringList &args) {
        launched << updater << args;
        return true;
    };
    ASSERT_TRUE(client_update::readKeyFile(publicFile, 32, &services.updatePublicKey));
    PageFixture f(services);
    f.call(QStringLiteral(R"({"FuncName":"ExecuteUpdateClient","FilePath":"%1"})").arg(pkg));
    ASSERT_EQ(launched, (QStringList{program + "/torvanix-updater", "--Upgrade"}));

    ASSERT_EQ(run("torvanix-updater", {"--Upgrade", "--program-dir", program}, QString(), &output),
              0)
        << output;
    EXPECT_EQ(mode(program + "/torvanix"), 0755u) << "the program's own mode stays";
    EXPECT_EQ(mode(program + "/bin/helper"), 0755u);
    EXPECT_EQ(mode(program + "/settings.conf"), 0600u);
    EXPECT_EQ(readAll(program + "/settings.conf"), "new");
    EXPECT_EQ(mode(program + "/share/readme"), 0644u);
    EXPECT_TRUE(waitForFile(program + "/restarted")) << "the updated program did not start";
}

// The updater installs the bytes it checked: a file swapped in the update folder once the
// updater has read it is never installed.
TEST(Updater, AFileSwappedAfterItWasReadIsNotInstalled) {
    QTemporaryDir dir;
    const QString program = dir.path();
    writeAll(program + "/update/lib/a.so", "checked");
    // Something long to read after it, so a second reading comes well after the swap.
    writeAll(program + "/update/lib/z.bin", QByteArray(32 << 20, 'z'));
    writeManifest(program, {"lib/a.so", "lib/z.bin"});
    const QByteArray watched = QFile::encodeName(program + "/update/lib/a.so");
    const int notes = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(notes, 0);
    ASSERT_GE(::inotify_add_watch(notes, watched.constData(), IN_CLOSE_NOWRITE), 0);

    QProcess updater;
    updater.start(Bin + "/torvanix-updater",
                  {"--Upgrade", "--program-dir", program, "--no-restart"});
    pollfd note{notes, POLLIN, 0};
    const bool read = ::poll(&note, 1, 30000) == 1;
    ::close(notes);
    ASSERT_TRUE(read) << "the updater never read the file";
    {
        QFile swap(QString::fromLocal8Bit(watched));
        ASSERT_TRUE(swap.open(QIODevice::WriteOnly));
        swap.write("swapped");
    }
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_NE(readAll(program + "/lib/a.so"), "swapped");
    EXPECT_EQ(updater.exitCode(), 0) << updater.readAllStandardError().toStdString();
    EXPECT_EQ(readAll(program + "/lib/a.so"), "checked");
}
