#include "page_test_support.h"

#include "device/client_update.h"
#include "dispatch/file_container.h"
#include "screen/screen_pictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString saveQuery(const char *func, const QString &text) {
    QJsonObject o;
    o.insert("FuncName", QString::fromLatin1(func));
    o.insert("CommandString", text);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

TEST(MacroFiles, SaveThenLoadRoundTripsTheTextInTheContainerLayout) {
    QTemporaryDir user;
    const QString text = QString::fromUtf8(R"({"name":"m1","steps":[1,2,3],"note":"äß"})");
    PageFixture save({}, {user.path() + "/m1"});
    const Answer a = save.call(saveQuery("SaveCommand", text));
    EXPECT_EQ(a.kind, Answer::Success);
    EXPECT_EQ(a.text, "SaveCommand Success!");
    // The dialog offered the macro's name in the start folder.
    EXPECT_TRUE(save.actions.log().first().contains(save.programDir.path() + "/m1|macro(*.macro)"));
    EXPECT_EQ(save.page->lastDirectory(), user.path());

    const QByteArray file = readAll(user.path() + "/m1.macro");
    ASSERT_GE(file.size(), 8);
    EXPECT_EQ(file.left(4), QByteArray::fromHex("0a0b0c0d"));
    const QByteArray payload = file.mid(8);
    EXPECT_EQ(file.mid(4, 4),
              QByteArray::fromHex(QByteArray::number(payload.size(), 16).rightJustified(8, '0')));
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromBase64(payload)), text);
    EXPECT_FALSE(QFile::exists(user.path() + "/m1")) << "no file under the extension-less name";

    PageFixture load({}, {user.path() + "/m1.macro"});
    const Answer b = load.call(R"({"FuncName":"LoadCommand"})");
    EXPECT_EQ(b.kind, Answer::Success);
    EXPECT_EQ(b.text, text);

    // Both containers are the same: a profile loads through LoadCommand.
    PageFixture saveProfile({}, {user.path() + "/p.profile"});
    EXPECT_EQ(saveProfile.call(saveQuery("SaveProfile", "{\"x\":1}")).text, "Saveprofile Success!");
    PageFixture loadAsMacro({}, {user.path() + "/p.profile"});
    EXPECT_EQ(loadAsMacro.call(R"({"FuncName":"LoadCommand"})").text, "{\"x\":1}");
}

TEST(MacroFiles, CancelledDialogsAndMissingTextGiveNoAnswer) {
    PageFixture f; // no choices: every dialog is cancelled
    EXPECT_EQ(f.call(saveQuery("SaveCommand", "{}")).kind, Answer::None);
    EXPECT_EQ(f.call(saveQuery("SaveProfile", "{}")).kind, Answer::None);
    EXPECT_EQ(f.call(R"({"FuncName":"LoadCommand"})").kind, Answer::None);
    EXPECT_EQ(f.call(R"({"FuncName":"LoadProfile"})").kind, Answer::None);
    EXPECT_EQ(f.call(R"({"FuncName":"OpenFileDialog"})").kind, Answer::None);
    const int dialogs = f.actions.log().size();
    EXPECT_EQ(f.call(R"({"FuncName":"SaveCommand"})").kind, Answer::None);
    EXPECT_EQ(f.actions.log().size(), dialogs) << "no dialog without CommandString";
}

TEST(MacroFiles, BrokenFilesFailToLoad) {
    QTemporaryDir user;
    const QByteArray good = container::encode("{\"a\":1}");
    const QList<QPair<const char *, QByteArray>> cases = {
        {"little-endian magic", QByteArray::fromHex("0d0c0b0a") + good.mid(4)},
        {"empty", QByteArray()},
        {"magic only", good.left(4)},
        {"truncated length", good.left(6)},
        {"truncated payload", good.left(good.size() - 1)},
        {"huge length", QByteArray::fromHex("0a0b0c0d7fffffff") + "abc"},
        // Damaged files that a lenient reading took for an empty or garbled profile.
        {"null length", QByteArray::fromHex("0a0b0c0dffffffff")},
        {"not Base64", QByteArray::fromHex("0a0b0c0d00000008") + "e30=!!!!"},
        {"Base64 with a gap", QByteArray::fromHex("0a0b0c0d00000005") + "e3 0="},
    };
    for (const auto &c : cases) {
        const QString path = user.path() + "/broken.macro";
        writeAll(path, c.second);
        PageFixture f({}, {path});
        const Answer a = f.call(R"({"FuncName":"LoadProfile"})");
        EXPECT_EQ(a.kind, Answer::Failure) << c.first;
        EXPECT_EQ(a.text, "LoadCommand file failed!") << c.first;
        EXPECT_EQ(a.code, 0);
    }
    PageFixture missing({}, {user.path() + "/nothing-here.macro"});
    EXPECT_EQ(missing.call(R"({"FuncName":"LoadCommand"})").kind, Answer::Failure);
}

TEST(MacroFiles, SavedNameGetsItsExtensionOnceAndFailuresKeepTheOldFile) {
    EXPECT_EQ(container::finalPath("/a/x.macro", ".macro"), "/a/x.macro");
    EXPECT_EQ(container::finalPath("/a/x", ".macro"), "/a/x.macro");
    EXPECT_EQ(container::finalPath("/a/x.macro.bak", ".macro"), "/a/x.bak.macro");
    EXPECT_EQ(container::finalPath("/a/x.MACRO", ".macro"), "/a/x.MACRO.macro");
    // A folder whose name holds the extension stays the chosen folder.
    EXPECT_EQ(container::finalPath("/a.macro/x", ".macro"), "/a.macro/x.macro");

    QTemporaryDir user;
    const QString existing = user.path() + "/keep.profile";
    writeAll(existing, container::encode("old"));
    // The target is a folder: the save fails and says so.
    QDir(user.path()).mkdir("folder.profile");
    PageFixture fail({}, {user.path() + "/folder.profile"});
    const Answer a = fail.call(saveQuery("SaveProfile", "new"));
    EXPECT_EQ(a.kind, Answer::Failure);
    EXPECT_EQ(a.text, "SaveCommand is failed!");
    // Overwriting replaces the content completely.
    PageFixture over({}, {existing});
    EXPECT_EQ(over.call(saveQuery("SaveProfile", "new")).kind, Answer::Success);
    QString text;
    ASSERT_TRUE(container::readFile(existing, &text));
    EXPECT_EQ(text, "new");
    EXPECT_EQ(QDir(user.path()).entryList(QDir::Files), QStringList{"keep.profile"})
        << "no temporary file left behind";
}

TEST(ScreenPictureCommands, OpenFileDialogCopiesOnlyScreenSizedPictures) {
    ScreenPictures pictures;
    PageServices services;
    services.screenImages = &pictures;
    QTemporaryDir user;
    QImage right(320, 172, QImage::Format_RGB32);
    right.fill(Qt::red);
    right.save(user.path() + "/right.png");
    QImage turned(172, 320, QImage::Format_RGB32);
    turned.fill(Qt::red);
    turned.save(user.path() + "/turned.png");
    writeAll(user.path() + "/text.png", "not a picture");

    PageFixture f(services, {user.path() + "/right.png", user.path() + "/turned.png",
                             user.path() + "/text.png", user.path() + "/right.png"});
    const Answer a = f.call(R"({"FuncName":"OpenFileDialog"})");
    ASSERT_EQ(a.kind, Answer::Success);
    EXPECT_TRUE(QRegularExpression("^screen_\\d{1,3}\\.png$").match(a.text).hasMatch()) << a.text;
    const QString copied = f.programDir.path() + "/screen/" + a.text;
    EXPECT_EQ(readAll(copied), readAll(user.path() + "/right.png"));
    for (int i = 0; i < 2; ++i) {
        const Answer b = f.call(R"({"FuncName":"OpenFileDialog"})");
        EXPECT_EQ(b.kind, Answer::Failure);
        EXPECT_EQ(b.text, "LoadCommand file failed!");
    }
    // A second pick never answers the name of the earlier picture.
    const Answer c = f.call(R"({"FuncName":"OpenFileDialog"})");
    ASSERT_EQ(c.kind, Answer::Success);
    EXPECT_NE(c.text, a.text);
}

TEST(ScreenPictureCommands, MusicDialogListsChosenFiles) {
    PageFixture f({}, {"/music/a.mp3", "/music/b c.flac"});
    const Answer a = f.call(R"({"FuncName":"OpenMP3Ex"})");
    EXPECT_EQ(
        a.text,
        R"([{"name":"a.mp3","path":"/music/a.mp3"},{"name":"b c.flac","path":"/music/b c.flac"}])");
    EXPECT_EQ(f.page->lastDirectory(), "/music");
    EXPECT_EQ(f.call(R"({"FuncName":"OpenMP3Ex"})").text, "[]");
}

TEST(ScreenPictureCommands, SaveImageTempStoresPngUnderPlainNamesOnly) {
    ScreenPictures pictures;
    PageServices services;
    services.screenImages = &pictures;
    PageFixture f(services);
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG");
    }
    const QString data = QString::fromLatin1(jpeg.toBase64());
    auto query = [&](const QString &name, const QString &payload) {
        QJsonObject o{
            {"FuncName", "SaveImageTemp"}, {"ImageName", name}, {"ImageBase64Data", payload}};
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    };
    Answer a = f.call(query("a", data));
    EXPECT_EQ(a.kind, Answer::Success);
    EXPECT_EQ(a.text, "");
    QImage stored(f.programDir.path() + "/screen/a.png");
    EXPECT_EQ(stored.size(), QSize(8, 4));
    EXPECT_EQ(readAll(f.programDir.path() + "/screen/a.png").mid(1, 3), "PNG");

    EXPECT_EQ(f.call(query("b", "!!!not base64!!!")).text, "");
    EXPECT_FALSE(QFile::exists(f.programDir.path() + "/screen/b.png"));
    for (const char *bad : {"../escape", "sub/x", "..", "a&outdir=x"}) {
        EXPECT_EQ(f.call(query(bad, data)).kind, Answer::Success) << bad;
    }
    EXPECT_FALSE(QFile::exists(f.programDir.path() + "/escape.png"));
    EXPECT_EQ(QDir(f.programDir.path() + "/screen").entryList(QDir::Files), QStringList{"a.png"});
}

TEST(ScreenPictureCommands, ImageConvBinStartsConverterWithArgumentList) {
    QMutex mutex;
    QList<QStringList> runs;
    PageServices services;
    services.runProcess = [&](const QString &program, const QStringList &args, const QString &cwd) {
        QMutexLocker lock(&mutex);
        runs.append(QStringList{program, cwd} + args);
        return 0;
    };
    PageFixture f(services);
    const Answer a = f.call(R"({"FuncName":"ImageConvBin","ImageName":"a.png"})");
    EXPECT_EQ(a.kind, Answer::Success);
    EXPECT_EQ(a.text, "");
    for (const char *bad : {"a.png\" -x", "../a.png", "a.png&outdir=/tmp/", "x/y.png"}) {
        QJsonObject o{{"FuncName", "ImageConvBin"}, {"ImageName", QString::fromLatin1(bad)}};
        EXPECT_EQ(f.call(QJsonDocument(o).toJson(QJsonDocument::Compact)).text, "") << bad;
    }
    ASSERT_EQ(runs.size(), 2) << "only the plain names start the converter";
    const QString dir = f.programDir.path();
    EXPECT_EQ(runs.at(0), (QStringList{dir + "/torvanix-imgconv", dir,
                                       "name=temp_abc&img=screen/a.png&format=bin_565_swap&"
                                       "cf=true_color&outdir=screen/"}));
    EXPECT_EQ(runs.at(1).at(2), "name=temp_abc&img=screen/a.png\" -x&format=bin_565_swap&"
                                "cf=true_color&outdir=screen/");
}

TEST(ScreenPictureCommands, ScreenImageDownloadGivesNoAnswer) {
    ScreenPictures pictures;
    PageServices services;
    services.screenImages = &pictures;
    PageFixture f(services);
    QImage(320, 172, QImage::Format_RGB32).save(f.programDir.path() + "/s.png");
    EXPECT_EQ(f.call(R"({"FuncName":"ScreenImageDownload","FilePath":"s.png"})").kind,
              Answer::None);
    EXPECT_EQ(f.call(R"({"FuncName":"ScreenImageDownload","FilePath":"missing.png"})").kind,
              Answer::None);
}

TEST(ScreenPictureCommands, ImageConvBinAnswersBeforeTheConverterEnds) {
    QSemaphore converting;
    QSemaphore finish;
    PageServices services;
    services.runProcess = [&](const QString &, const QStringList &, const QString &) {
        converting.release();
        finish.acquire();
        return 0;
    };
    PageFixture f(services);
    auto reply = f.send(R"({"FuncName":"ImageConvBin","ImageName":"a.png"})");
    ASSERT_TRUE(converting.tryAcquire(1, 10000));
    EXPECT_FALSE(f.page->waitForIdle(0)) << "the conversion counts as running work";
    // The command has answered while its converter still runs.
    for (int i = 0; i < 100 && reply->answer().kind == Answer::None; ++i)
        QThread::msleep(10);
    EXPECT_EQ(reply->answer().kind, Answer::Success);
    finish.release();
    EXPECT_TRUE(f.page->waitForIdleProcessingEvents(10000));
}

TEST(ScreenPictureCommands, ADocumentAfterAConversionWaitsForItsOutput) {
    QSemaphore converting;
    QSemaphore finish;
    QMutex mutex;
    QStringList documents;
    PageServices services;
    services.runProcess = [&](const QString &, const QStringList &, const QString &) {
        converting.release();
        finish.acquire();
        return 0;
    };
    services.writeDevice = [&](const QString &doc) {
        QMutexLocker lock(&mutex);
        documents << doc;
    };
    PageFixture f(services);
    f.send(R"({"FuncName":"ImageConvBin","ImageName":"a.png"})");
    ASSERT_TRUE(converting.tryAcquire(1, 10000));
    f.send(R"({"FuncName":"NoticeModify","XmlConfigStr":"<configuration/>"})");
    QThread::msleep(100);
    {
        QMutexLocker lock(&mutex);
        EXPECT_TRUE(documents.isEmpty()) << "the translator would read a missing picture";
    }
    finish.release();
    EXPECT_TRUE(f.page->waitForIdleProcessingEvents(10000));
    QMutexLocker lock(&mutex);
    EXPECT_EQ(documents, QStringList{"<configuration/>"});
}

TEST(ScreenPictureCommands, AFailedPictureWriteKeepsTheOldPictureAndAnswersFailure) {
    ScreenPictures pictures;
    PageServices services;
    services.screenImages = &pictures;
    PageFixture f(services);
    QImage big(320, 172, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            big.setPixel(x, y, qRgb(x * 7, y * 13, x ^ y));
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        big.save(&buffer, "PNG");
    }
    const QString target = f.programDir.path() + "/screen/a.png";
    QDir().mkpath(f.programDir.path() + "/screen");
    QImage earlier(8, 8, QImage::Format_RGB32);
    earlier.fill(Qt::red);
    earlier.save(target);
    const QByteArray before = readAll(target);
    const QString query = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"FuncName", "SaveImageTemp"},
                                  {"ImageName", "a"},
                                  {"ImageBase64Data", QString::fromLatin1(png.toBase64())}})
            .toJson(QJsonDocument::Compact));

    // A profile save hits the same limit.
    const QString profile = f.programDir.path() + "/keep.profile";
    writeAll(profile, container::encode("old"));
    PageFixture saver({}, {profile});

    // Files may not grow past 64 bytes: the write of the new picture fails.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Answer a = f.call(query);
    const Answer saved = saver.call(saveQuery("SaveProfile", QString(200, 'p')));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_EQ(a.kind, Answer::Failure);
    EXPECT_EQ(readAll(target), before) << "the old picture was cut";
    EXPECT_EQ(saved.text, "SaveCommand is failed!");
    EXPECT_EQ(readAll(profile), container::encode("old"));
    EXPECT_EQ(QDir(f.programDir.path() + "/screen").entryList(QDir::Files), QStringList{"a.png"});
    EXPECT_EQ(f.call(query).kind, Answer::Success);
    EXPECT_EQ(QImage(target).size(), QSize(320, 172));
}

// A pipe named by the page (through a dialog or an argument) is refused at once; the commands
// behind it keep running.
TEST(FileCommands, APipeForAFileStallsNoCommand) {
    QTemporaryDir user;
    const QString fifo = user.path() + "/pipe.macro";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ScreenPictures pictures;
    PageServices services;
    services.screenImages = &pictures;
    PageFixture f(services, {fifo, fifo, fifo, fifo});
    ASSERT_EQ(::mkfifo(QFile::encodeName(f.programDir.path() + "/pipe.png").constData(), 0600), 0);
    const QStringList queries = {
        R"({"FuncName":"LoadCommand"})",
        R"({"FuncName":"LoadProfile"})",
        R"({"FuncName":"OpenFileDialog"})",
        QString(R"({"FuncName":"ExecuteUpdateClient","FilePath":"%1"})").arg(fifo),
        R"({"FuncName":"ScreenImageDownload","FilePath":"pipe.png"})",
        QString(R"({"FuncName":"OpenUpdateDirectory","FilePath":"%1"})").arg(fifo),
        saveQuery("SaveCommand", "{}"),
    };
    QList<std::shared_ptr<RecordingReply>> replies;
    for (const QString &q : queries)
        replies << f.send(q);
    auto last = f.send(R"({"FuncName":"GetMonitorStatus"})");
    const bool idle = f.page->waitForIdleProcessingEvents(20000);
    // Release a reader still waiting (only when the commands did block), so the test ends.
    for (const QString &p : {fifo, f.programDir.path() + "/pipe.png"}) {
        const int fd = ::open(QFile::encodeName(p).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    ASSERT_TRUE(idle) << "a command waits on the pipe";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(replies[i]->answer().kind, Answer::Failure) << i;
        EXPECT_EQ(replies[i]->answer().text, "LoadCommand file failed!") << i;
    }
    EXPECT_EQ(last->answer().text, "off");
    EXPECT_TRUE(QFileInfo::exists(fifo));
}

// An installed program's folder takes no files (root passes the mode bits, so a folder nobody
// can create files in stands for it): pictures and downloads go to the user's data folder,
// helpers still come from the program folder, and the program does not update itself.
TEST(ScreenPictureCommands, AReadOnlyProgramFolderSendsWritesToTheUserDataFolder) {
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    const QString data = home.path() + "/torvanix";
    {
        ScreenPictures pictures;
        QMutex mutex;
        QStringList runs;
        QStringList launched;
        PageServices services;
        services.programDir = QStringLiteral("/proc");
        services.screenImages = &pictures;
        services.runProcess = [&](const QString &program, const QStringList &, const QString &cwd) {
            QMutexLocker lock(&mutex);
            runs << program << cwd;
            return 0;
        };
        services.startDetached = [&](const QString &program, const QStringList &) {
            launched << program;
            return true;
        };
        const QByteArray seed(32, 's');
        services.updatePublicKey = client_update::publicKeyForSeed(seed);
        PageFixture f(services);

        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(8, 4, QImage::Format_RGB32).save(&buffer, "PNG");
        QJsonObject save{{"FuncName", "SaveImageTemp"},
                         {"ImageName", "a"},
                         {"ImageBase64Data", QString::fromLatin1(png.toBase64())}};
        EXPECT_EQ(f.call(QJsonDocument(save).toJson(QJsonDocument::Compact)).kind, Answer::Success);
        EXPECT_EQ(readAll(data + "/screen/a.png").mid(1, 3), "PNG");
        f.call(R"({"FuncName":"ImageConvBin","ImageName":"a.png"})");
        EXPECT_EQ(runs, (QStringList{"/proc/torvanix-imgconv", data}));

        client_update::Content content;
        content.label = client_update::programVersion();
        content.entries.append({QStringLiteral("pkg/bin/app"), QByteArray("new program")});
        const QString package = home.path() + "/good.pkg";
        QFile good(package);
        ASSERT_TRUE(good.open(QIODevice::WriteOnly));
        good.write(client_update::encodePackage(client_update::encodeContent(content), seed));
        good.close();
        f.call(
            QStringLiteral(R"({"FuncName":"ExecuteUpdateClient","FilePath":"%1"})").arg(package));
        EXPECT_TRUE(launched.isEmpty()) << "the package manager updates this installation";
        EXPECT_EQ(f.actions.quitCount(), 0);
        EXPECT_FALSE(QFileInfo::exists(data + "/update/bin/app"));

        f.call(
            QStringLiteral(R"({"FuncName":"OpenUpdateDirectory","FilePath":"%1"})").arg(package));
        EXPECT_EQ(readAll(data + "/update/bin/app"), "new program");
        EXPECT_TRUE(f.actions.log().contains("openExternal " +
                                             QUrl::fromLocalFile(data + "/update").toString()));
    }
    if (savedHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedHome);
}
