#include "device/data_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

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
