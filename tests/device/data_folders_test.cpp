#include "device/data_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace torvanix;

namespace {

void writeFile(const QString &path, const QByteArray &data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(data);
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Points the user's data folder into a temporary folder for the test's life.
struct DataHome {
    DataHome() : saved(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", dir.path().toUtf8()); }
    ~DataHome() {
        if (saved.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", saved);
    }
    QString user() const { return dir.path() + "/torvanix"; }
    QTemporaryDir dir;
    QByteArray saved;
};

// Sets an environment variable (or removes it, for a null value) for the test's life.
struct EnvVar {
    EnvVar(const char *name, const QByteArray &value)
        : name(name), had(qEnvironmentVariableIsSet(name)), saved(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvVar() {
        if (had)
            qputenv(name, saved);
        else
            qunsetenv(name);
    }
    const char *name;
    bool had;
    QByteArray saved;
};

} // namespace

TEST(DataFolders, WritesStayBesideAWritableProgramAndMoveToTheUserFolderOtherwise) {
    DataHome home;
    QTemporaryDir program;
    EXPECT_EQ(data_folders::userDataFolder(), home.user());
    EXPECT_TRUE(data_folders::canCreateFiles(program.path()));
    EXPECT_TRUE(QDir(program.path()).isEmpty()) << "the probe leaves nothing behind";
    EXPECT_EQ(data_folders::writableFolder(program.path()), program.path());
    EXPECT_FALSE(QFileInfo::exists(home.user())) << "not created while unused";

    // Root passes every mode check, so a folder nobody can create files in stands for the
    // installed program's folder.
    EXPECT_FALSE(data_folders::canCreateFiles("/proc"));
    EXPECT_FALSE(data_folders::canCreateFiles(program.path() + "/missing"));
    EXPECT_EQ(data_folders::writableFolder("/proc"), home.user());
    EXPECT_TRUE(QFileInfo(home.user()).isDir());
    EXPECT_EQ(data_folders::writableFolder(program.path(), [](const QString &) { return false; }),
              home.user());
}

TEST(DataFolders, BrowserStorageMovesOutOfTheTemporaryFolderOnce) {
    QTemporaryDir root;
    const QString temp = root.path() + "/tmp/ozk";
    const QString storage = root.path() + "/data/torvanix/browser";
    const QStringList keep{"Cache", "ozk.log"};
    writeFile(temp + "/Local Storage/leveldb/000003.log", "macro library");
    writeFile(temp + "/Cookies", "cookies");
    writeFile(temp + "/Cache/data_0", "cache");
    writeFile(temp + "/ozk.log", "log");

    QString why;
    EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, keep, &why), storage);
    EXPECT_TRUE(why.contains("moved")) << qPrintable(why);
    EXPECT_EQ(readFile(storage + "/Local Storage/leveldb/000003.log"), "macro library");
    EXPECT_EQ(readFile(storage + "/Cookies"), "cookies");
    EXPECT_FALSE(QFileInfo::exists(storage + "/Cache"));
    EXPECT_FALSE(QFileInfo::exists(storage + ".moving"));
    // The temporary folder keeps what stays there (its existence included).
    EXPECT_EQ(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"Cache", "ozk.log"}));

    // Once the storage folder exists, later leftovers in the temporary folder are not merged.
    writeFile(temp + "/Cookies", "stale");
    why.clear();
    EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, keep, &why), storage);
    EXPECT_TRUE(why.isEmpty());
    EXPECT_EQ(readFile(storage + "/Cookies"), "cookies");

    // Nothing to move: the storage folder is used as it is.
    const QString fresh = root.path() + "/fresh";
    EXPECT_EQ(data_folders::settleBrowserStorage(root.path() + "/none", fresh, keep, &why), fresh);
}

TEST(DataFolders, AFailedMoveKeepsTheOldStorageInUse) {
    QTemporaryDir root;
    const QString temp = root.path() + "/ozk";
    writeFile(temp + "/Local Storage/leveldb/000003.log", "macro library");
    // The storage folder's parent is a file: nothing can be created under it.
    writeFile(root.path() + "/blocked", "");
    const QString storage = root.path() + "/blocked/browser";
    QString why;
    EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, {}, &why), temp);
    EXPECT_TRUE(why.contains("could not be moved")) << qPrintable(why);
    EXPECT_EQ(readFile(temp + "/Local Storage/leveldb/000003.log"), "macro library");
}

// Another local user can make any name in the shared temporary folder first: a link, a folder
// open to all, or (seen by root, who may give files away) a folder of someone else's.
TEST(DataFolders, ThePrivateFolderIsNeverOneAnotherUserPlanted) {
    QTemporaryDir runtime, tmp;
    {
        EnvVar xdg("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString own = data_folders::privateRuntimeFolder();
        EXPECT_EQ(own, runtime.path() + "/torvanix");
        EXPECT_TRUE(data_folders::isPrivateFolder(own));
    }
    EnvVar xdg("XDG_RUNTIME_DIR", QByteArray());
    EnvVar tmpdir("TMPDIR", tmp.path().toUtf8());
    const QString fallback = tmp.path() + QString("/torvanix-%1").arg(::getuid());
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), fallback));
    EXPECT_EQ(data_folders::privateRuntimeFolder(), QString()) << "a planted link";
    QFile::remove(fallback);
    ASSERT_TRUE(QDir().mkdir(fallback));
    ::chmod(QFile::encodeName(fallback).constData(), 0777);
    EXPECT_EQ(data_folders::privateRuntimeFolder(), QString()) << "a folder open to all";
    ::chmod(QFile::encodeName(fallback).constData(), 0700);
    EXPECT_EQ(data_folders::privateRuntimeFolder(), fallback);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(fallback).constData(), 65534, 65534), 0);
        EXPECT_EQ(data_folders::privateRuntimeFolder(), QString()) << "someone else's folder";
    }
}

TEST(DataFolders, StorageIsTakenOverOnlyFromTheUsersOwnFolder) {
    QTemporaryDir root;
    const QString planted = root.path() + "/planted";
    writeFile(planted + "/Local Storage/leveldb/000003.log", "planted library");
    const QString temp = root.path() + "/ozk";
    ASSERT_TRUE(QFile::link(planted, temp));
    const QString storage = root.path() + "/browser";
    QString why;
    EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, {}, &why), storage);
    EXPECT_TRUE(why.contains("not taken over")) << qPrintable(why);
    EXPECT_FALSE(QFileInfo::exists(storage));
    EXPECT_EQ(readFile(planted + "/Local Storage/leveldb/000003.log"), "planted library");

    QFile::remove(temp);
    writeFile(temp + "/Cookies", "cookies");
    ::chmod(QFile::encodeName(temp).constData(), 0777);
    EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, {}, &why), storage);
    EXPECT_FALSE(QFileInfo::exists(storage)) << "a folder anyone may write to";
    if (::geteuid() == 0) {
        ::chmod(QFile::encodeName(temp).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(temp).constData(), 65534, 65534), 0);
        EXPECT_EQ(data_folders::settleBrowserStorage(temp, storage, {}, &why), storage);
        EXPECT_FALSE(QFileInfo::exists(storage)) << "another user's folder";
    }
}
