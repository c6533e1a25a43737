#include "../device/description_builder.h"
#include "byte_order.h"
#include "device/client_update.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/pacer.h"
#include "device/signed_index.h"
#include "device/update_firmware.h"
#include "page_test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace torvanix;

namespace {

class Progress : public EventSink {
public:
    void sendEvent(const QString &name, const QVariantList &args) override {
        QMutexLocker lock(&mutex_);
        if (name == QLatin1String(events::RefreshUpdateState)) {
            texts_ << args.value(0).toString();
            if (args.size() > 1)
                failedStep_ = args.value(1).toString();
        }
    }
    QStringList texts() const {
        QMutexLocker lock(&mutex_);
        return texts_;
    }
    QString failedStep() const {
        QMutexLocker lock(&mutex_);
        return failedStep_;
    }

private:
    mutable QMutex mutex_;
    QStringList texts_;
    QString failedStep_;
};

QString text(const tvx_char16 *p) {
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(p));
}

// A boot loader that records every call.
struct FakeLoader {
    QStringList calls;
    struct Chunk {
        int length;
        int offset;
        QByteArray bytes;
    };
    QList<Chunk> chunks;
    bool found = true;
    bool bootLoaderEntry = true;
    bool inBoot = false;      // switched and not yet committed
    bool comesBack = true;    // listed again after the commit
    QStringList otherLoaders; // boot loaders of other devices, named first by the search
    int eraseResult = 1, writeResult = 1, checkResult = 1, finishResult = 1;
    int failChunk = -1;

    UsbInterfaceTable table() {
        UsbInterfaceTable t;
        if (bootLoaderEntry)
            t.BootLoader = [](const tvx_char16 *) { return 1; };
        t.Reset = [this](const tvx_char16 *p, uint8_t a, uint8_t b) {
            calls << QStringLiteral("Reset %1 %2 %3").arg(text(p)).arg(a).arg(b);
            inBoot = inBoot || a == 1;
            return 1;
        };
        t.dcDevices = [this](uint8_t *list, const uint16_t *) {
            calls << "List";
            std::vector<test::Description> listed;
            if (comesBack && !inBoot)
                listed.push_back({"", "HJE-XAV-V1.2.0", "", 0, 0, "dev-path"});
            const std::vector<uint8_t> block = test::listBlock(listed);
            std::copy(block.begin(), block.end(), list);
            return int(listed.size());
        };
        t.dcDeviceExist = [this](const tvx_char16 *id, tvx_char16 *buffer) {
            calls << "Exist " + text(id);
            const bool ours = found && (inBoot || !bootLoaderEntry);
            if (otherLoaders.isEmpty() && !ours)
                return 0;
            const QString boot =
                otherLoaders.isEmpty() ? QStringLiteral("boot-path") : otherLoaders.first();
            std::copy(boot.utf16(), boot.utf16() + boot.size() + 1, buffer);
            return 1;
        };
        t.dcEraseRom = [this](const tvx_char16 *p) {
            calls << "Erase " + text(p);
            return eraseResult;
        };
        t.dcWriteRom = [this](const tvx_char16 *, uint8_t *buf, int length, int offset) {
            chunks.append({length, offset, QByteArray(reinterpret_cast<char *>(buf), 2048)});
            return chunks.size() - 1 == failChunk ? 0 : writeResult;
        };
        t.CheckRom = [this](const tvx_char16 *p, int length, uint32_t check) {
            calls << QStringLiteral("Check %1 %2 %3").arg(text(p)).arg(length).arg(check);
            return checkResult;
        };
        t.FinishUpdateRom = [this](const tvx_char16 *p) {
            calls << "Finish " + text(p);
            if (finishResult && text(p) == "boot-path")
                inBoot = false;
            return finishResult;
        };
        t.UpdateVersion = [this](const tvx_char16 *p, int a, int b) {
            calls << QStringLiteral("Version %1 %2 %3").arg(text(p)).arg(a).arg(b);
            return 1;
        };
        return t;
    }
};

QByteArray image(quint64 payloadLength, quint32 check = 0xA1B2C3D4, quint32 second = 0) {
    QByteArray file(FirmwareImage::AreaSize, '\0');
    torvanix::test::storeLE<quint32>(file, 0, FirmwareImage::FormatMark);
    torvanix::test::storeLE<quint32>(file, 4, second);
    for (int i = 0; i < 6000; ++i)
        file[FirmwareImage::PayloadOffset + i] = static_cast<char>(i % 251);
    torvanix::test::storeLE<quint64>(file, FirmwareImage::LengthOffset, payloadLength);
    torvanix::test::storeLE<quint32>(file, FirmwareImage::CheckOffset, check);
    return file;
}

struct FirmwareRun {
    QTemporaryDir dir;
    Progress progress;
    QString path;

    explicit FirmwareRun(const QByteArray &file) {
        path = dir.path() + "/fw.bin";
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(file);
        DeviceRecordMap records;
        QJsonObject r;
        r.insert("DevicePath", "dev-path");
        records.insert("HJE-XAV-V1.2.0", r);
        PublishedDevices::instance().publish(records);
        BootLoaderDevices::instance().setStoreFile(QString()); // no device waits
    }
    // The image lies in the download folder unless told otherwise.
    QStringList go(FakeLoader &loader, const QString &identity = "HJE-XAV-V1.2.0",
                   const QString &downloads = QString()) {
        update_firmware worker(loader.table(), nullptr, identity, path, progress);
        worker.setDownloadFolder(downloads.isNull() ? dir.path() : downloads);
        worker.UpdateFirmware();
        return progress.texts();
    }
};

} // namespace

TEST(FirmwareImageFile, FormatChecks) {
    FirmwareImage img;
    EXPECT_TRUE(FirmwareImage::parse(image(4000), &img));
    EXPECT_EQ(img.payloadLength, 4000u);
    EXPECT_EQ(img.check, 0xA1B2C3D4u);
    // A file that ends before its trailer would pass as an empty image and wipe the device.
    EXPECT_FALSE(FirmwareImage::parse(image(4000).left(300), &img));
    EXPECT_FALSE(FirmwareImage::parse(image(4000).left(FirmwareImage::TrailerEnd - 1), &img));
    EXPECT_TRUE(FirmwareImage::parse(image(4000).left(FirmwareImage::TrailerEnd), &img));
    EXPECT_FALSE(FirmwareImage::parse(image(0), &img)) << "nothing to write";
    EXPECT_FALSE(FirmwareImage::parse(image(4000, 0, 1), &img));
    EXPECT_FALSE(FirmwareImage::parse(image(4000) + "x", &img)) << "larger than the area";
    EXPECT_FALSE(FirmwareImage::parse(image(4000).left(7), &img));
    EXPECT_FALSE(FirmwareImage::parse(image(66143 - 264 + 1), &img)) << "payload over its trailer";
    EXPECT_FALSE(FirmwareImage::parse(image(0xFFFFFFFFFFFFull), &img));
    EXPECT_TRUE(FirmwareImage::parse(image(66143 - 264), &img));
}

TEST(FirmwareImageFile, OnlyPlainFilesAreReadAndRemoved) {
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.path() + "/fw.pipe");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Holding both ends keeps a reader's open from blocking.
    const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, image(0).constData(), 8), 8);
    std::atomic<bool> done{false};
    bool accepted = true;
    std::thread reader([&] {
        FirmwareImage img;
        accepted = FirmwareImage::read(QFile::decodeName(fifo), &img);
        done = true;
    });
    for (int i = 0; i < 200 && !done; ++i)
        QThread::msleep(10);
    ::close(fd); // a reader still waiting sees the end
    reader.join();
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(QFileInfo::exists(QFile::decodeName(fifo))) << "only plain files are removed";
}

TEST(FirmwareUpdate, SuccessfulRunReportsAllStepsAndWritesChunks) {
    FirmwareRun run(image(4000));
    FakeLoader loader;
    EXPECT_EQ(run.go(loader), (QStringList{"20", "40", "60", "70", "80", "100"}));
    EXPECT_FALSE(QFile::exists(run.path)) << "a downloaded image goes once it served";
    ASSERT_EQ(loader.chunks.size(), 3);
    EXPECT_EQ(loader.chunks[0].length, 2000);
    EXPECT_EQ(loader.chunks[1].offset, 2000);
    EXPECT_EQ(loader.chunks[2].length, 0);
    EXPECT_EQ(loader.chunks[2].offset, 4000);
    EXPECT_EQ(loader.chunks[1].bytes.at(0), static_cast<char>(2000 % 251));
    EXPECT_EQ(loader.chunks[1].bytes.mid(2000), QByteArray(48, '\0'));
    EXPECT_EQ(
        loader.calls,
        (QStringList{"Exist Vid_258a&Pid_ff12", "Reset dev-path 1 0", "Exist Vid_258a&Pid_ff12",
                     "Erase boot-path", QStringLiteral("Check boot-path 4000 %1").arg(0xA1B2C3D4u),
                     "Finish boot-path", "Version dev-path 2 17", "Reset dev-path 2 0", "List"}));

    FirmwareRun partial(image(4500));
    FakeLoader second;
    second.bootLoaderEntry = false;
    partial.go(second);
    ASSERT_EQ(second.chunks.size(), 3);
    EXPECT_EQ(second.chunks[2].length, 500);
    EXPECT_FALSE(second.calls.contains("Reset dev-path 1 0"))
        << "without BootLoader the device is expected in its boot loader already";
}

// Progress texts, pauses and library calls of one run on a single time line.
TEST(FirmwareUpdate, StepsPausesAndProgressFollowEachOtherInTheirFixedOrder) {
    struct Timeline : Pacer, EventSink {
        QStringList *lines = nullptr;
        void pause(int ms) override { *lines << QStringLiteral("wait %1").arg(ms); }
        void sendEvent(const QString &name, const QVariantList &args) override {
            *lines << name + ' ' + args.value(0).toString();
        }
    };
    FirmwareRun run(image(4000, 77));
    FakeLoader loader;
    Timeline timeline;
    timeline.lines = &loader.calls;
    UsbInterfaceTable table = loader.table();
    auto write = table.dcWriteRom;
    table.dcWriteRom = [&](const tvx_char16 *p, uint8_t *buf, int length, int offset) {
        loader.calls << QStringLiteral("Write %1 %2").arg(length).arg(offset);
        return write(p, buf, length, offset);
    };
    setPacer(&timeline);
    {
        update_firmware worker(table, nullptr, "HJE-XAV-V1.2.0", run.path, timeline);
        worker.UpdateFirmware();
    }
    setPacer(nullptr);
    const QString state = QString::fromLatin1(events::RefreshUpdateState) + ' ';
    EXPECT_EQ(loader.calls, (QStringList{state + "20",
                                         "Exist Vid_258a&Pid_ff12",
                                         "wait 2000",
                                         "Reset dev-path 1 0",
                                         state + "40",
                                         "wait 8000",
                                         "Exist Vid_258a&Pid_ff12",
                                         state + "60",
                                         "Erase boot-path",
                                         "wait 5000",
                                         state + "70",
                                         "Write 2000 0",
                                         "wait 20",
                                         "Write 2000 2000",
                                         "wait 20",
                                         "Write 0 4000",
                                         "wait 20",
                                         "wait 8000",
                                         "Check boot-path 4000 77",
                                         state + "80",
                                         "wait 1000",
                                         "Finish boot-path",
                                         "wait 8000",
                                         "Version dev-path 2 17",
                                         "wait 1000",
                                         "Reset dev-path 2 0",
                                         "wait 1000",
                                         "List",
                                         state + "100"}));
}

TEST(FirmwareUpdate, EveryFailureEndsWithMinusOneOnce) {
    {
        FirmwareRun run(image(4000, 0, 1));
        FakeLoader loader;
        EXPECT_EQ(run.go(loader), QStringList{"-1"});
        EXPECT_EQ(run.progress.failedStep(), "image");
        EXPECT_TRUE(QFile::exists(run.path)) << "what is no image is not ours to delete";
    }
    {
        // Cut before the length field: refused before any device step, nothing erased.
        FirmwareRun run(image(4000).left(FirmwareImage::LengthOffset));
        FakeLoader loader;
        EXPECT_EQ(run.go(loader), QStringList{"-1"});
        EXPECT_TRUE(loader.calls.isEmpty());
        EXPECT_TRUE(loader.chunks.isEmpty());
    }
    {
        FirmwareRun run(image(4000) + QByteArray(10, 'x'));
        FakeLoader loader;
        EXPECT_EQ(run.go(loader), QStringList{"-1"});
        EXPECT_TRUE(loader.chunks.isEmpty());
    }
    {
        FirmwareRun run(image(4000));
        FakeLoader loader;
        EXPECT_EQ(run.go(loader, "UNKNOWN"), (QStringList{"20", "-1"}));
    }
    {
        FirmwareRun run(image(4000));
        QFile::remove(run.path);
        FakeLoader loader;
        EXPECT_EQ(run.go(loader), QStringList{"-1"});
    }
    {
        FirmwareRun run(image(4000));
        FakeLoader loader;
        loader.found = false;
        EXPECT_EQ(run.go(loader), (QStringList{"20", "40", "-1"}));
    }
    struct Case {
        const char *name;
        std::function<void(FakeLoader &)> set;
        QStringList expected;
    };
    const QList<Case> cases = {
        {"erase", [](FakeLoader &l) { l.eraseResult = 0; }, {"20", "40", "60", "-1"}},
        {"write", [](FakeLoader &l) { l.failChunk = 1; }, {"20", "40", "60", "70", "-1"}},
        {"check", [](FakeLoader &l) { l.checkResult = 0; }, {"20", "40", "60", "70", "-1"}},
        {"commit", [](FakeLoader &l) { l.finishResult = 0; }, {"20", "40", "60", "70", "80", "-1"}},
    };
    for (const Case &c : cases) {
        FirmwareRun run(image(4000));
        FakeLoader loader;
        c.set(loader);
        EXPECT_EQ(run.go(loader), c.expected) << c.name;
        EXPECT_EQ(run.progress.failedStep(), c.name);
        EXPECT_TRUE(QFile::exists(run.path)) << "kept for the retry: " << c.name;
        EXPECT_EQ(BootLoaderDevices::instance().lookup("HJE-XAV-V1.2.0").value("BootLoader"), "1")
            << c.name;
    }
}

TEST(FirmwareUpdate, OnlyADownloadedImageIsRemovedAndOnlyAfterSuccess) {
    {
        // A text file named by the page is neither flashed nor deleted.
        QTemporaryDir dir;
        const QString notes = dir.path() + "/notes.txt";
        QFile f(notes);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("my notes\n");
        f.close();
        Progress progress;
        FakeLoader loader;
        update_firmware worker(loader.table(), nullptr, "HJE-XAV-V1.2.0", notes, progress);
        worker.setDownloadFolder(dir.path());
        worker.UpdateFirmware();
        EXPECT_EQ(progress.texts(), QStringList{"-1"});
        EXPECT_TRUE(QFile::exists(notes));
    }
    {
        FirmwareRun run(image(4000));
        QTemporaryDir elsewhere;
        FakeLoader loader;
        EXPECT_EQ(run.go(loader, "HJE-XAV-V1.2.0", elsewhere.path()).last(), "100");
        EXPECT_TRUE(QFile::exists(run.path)) << "outside the download folder";
    }
}

TEST(FirmwareUpdate, OnlyTheBootLoaderOfTheDeviceBeingUpdatedIsWritten) {
    {
        // Another device waits in its boot loader and the search names it first.
        FirmwareRun run(image(4000));
        FakeLoader loader;
        loader.otherLoaders << "boot-other";
        EXPECT_EQ(run.go(loader), (QStringList{"20", "40", "-1"}));
        EXPECT_EQ(run.progress.failedStep(), "bootloader");
        EXPECT_TRUE(loader.chunks.isEmpty());
        EXPECT_FALSE(loader.calls.join(',').contains("Erase"));
        EXPECT_EQ(BootLoaderDevices::instance().lookup("HJE-XAV-V1.2.0").value("BootLoader"), "1")
            << "switched, it waits for a retry";
    }
    {
        // A device left waiting keeps the path of its own boot loader, also across a restart.
        FirmwareRun run(image(4000));
        const QString store = run.dir.path() + "/waiting.json";
        BootLoaderDevices::instance().setStoreFile(store);
        FakeLoader failing;
        failing.failChunk = 0;
        run.go(failing);
        BootLoaderDevices::instance().setStoreFile(store);
        EXPECT_EQ(BootLoaderDevices::instance().bootPath("HJE-XAV-V1.2.0"), "boot-path");
        EXPECT_FALSE(BootLoaderDevices::instance().lookup("HJE-XAV-V1.2.0").contains("BootPath"));

        FakeLoader other;
        other.inBoot = true;
        other.otherLoaders << "boot-other";
        EXPECT_EQ(run.go(other).mid(5), (QStringList{"20", "40", "-1"}));
        EXPECT_TRUE(other.chunks.isEmpty());

        FakeLoader own;
        own.inBoot = true;
        EXPECT_EQ(run.go(own).last(), "100");
        EXPECT_FALSE(own.calls.contains("Reset dev-path 1 0"));
        EXPECT_TRUE(BootLoaderDevices::instance().isEmpty());
        BootLoaderDevices::instance().setStoreFile(QString());
    }
    {
        // Committed but never listed again: no "100".
        FirmwareRun run(image(4000));
        FakeLoader loader;
        loader.comesBack = false;
        EXPECT_EQ(run.go(loader), (QStringList{"20", "40", "60", "70", "80", "-1"}));
        EXPECT_EQ(run.progress.failedStep(), "restart");
    }
}

// The whole retry runs against the simulator (ctl_call_test); here only the listing rule.
TEST(FirmwareUpdate, AWaitingDeviceIsListedWhileItsBootLoaderAnswers) {
    FirmwareRun run(image(4000));
    FakeLoader failing;
    failing.failChunk = 0;
    run.go(failing);
    DeviceRecordMap listed;
    BootLoaderDevices::instance().reconcile(listed, [] { return false; });
    EXPECT_TRUE(listed.isEmpty());
    BootLoaderDevices::instance().reconcile(listed, [] { return true; });
    EXPECT_EQ(listed.value("HJE-XAV-V1.2.0").value("BootLoader"), "1");
    EXPECT_EQ(listed.value("HJE-XAV-V1.2.0").value("DevicePath"), "dev-path");
    // Listed normally again: it runs, and is forgotten.
    DeviceRecordMap normal{{"hje-xav-v1.2.0", QJsonObject{{"DevicePath", "dev-path"}}}};
    BootLoaderDevices::instance().reconcile(normal, [] { return true; });
    EXPECT_TRUE(BootLoaderDevices::instance().isEmpty());
}

TEST(FirmwareUpdate, SecondRunWhileOneIsGoingIsRefused) {
    FirmwareRun first(image(4000));
    FirmwareRun second(image(4000));
    QSemaphore inErase;
    QSemaphore release;
    FakeLoader slow;
    UsbInterfaceTable table = slow.table();
    auto erase = table.dcEraseRom;
    table.dcEraseRom = [&](const tvx_char16 *p) {
        inErase.release();
        release.acquire();
        return erase(p);
    };
    QThread thread;
    auto *worker =
        new update_firmware(table, &thread, "HJE-XAV-V1.2.0", first.path, first.progress);
    QObject::connect(worker, &update_firmware::done, &thread, &QThread::quit, Qt::DirectConnection);
    thread.start();
    ASSERT_TRUE(inErase.tryAcquire(1, 10000));

    FakeLoader other;
    EXPECT_EQ(second.go(other), QStringList{"-1"});
    EXPECT_TRUE(QFile::exists(second.path)) << "a refused run leaves its file alone";
    EXPECT_TRUE(other.calls.isEmpty());

    release.release();
    ASSERT_TRUE(thread.wait(10000));
    delete worker;
    EXPECT_EQ(first.progress.texts().last(), "100");
}

// An image from the update server runs only under an index signed by the release key that names
// exactly that image for the device's model; a picked file (no index) runs as before.
TEST(FirmwareUpdate, ImagesFromTheUpdateServerNeedTheirSignedIndex) {
    const QByteArray seed(32, 'r');
    QTemporaryDir dir;
    const QString path = dir.path() + "/fw.bin";
    const QByteArray file = image(4000);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    auto indexFor = [](const QByteArray &bytes, const char *model) {
        const QJsonObject entry{
            {"version", "1.3.0"},
            {"url", "firmware/x.bin"},
            {"size", bytes.size()},
            {"sha256", QString::fromLatin1(
                           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())}};
        return QJsonDocument(QJsonObject{{"format", 1}, {"firmware", QJsonObject{{model, entry}}}})
            .toJson();
    };
    const QByteArray index = indexFor(file, "HJE-XAV");
    const QString good = signed_index::sign(index, seed).toBase64();

    struct Case {
        const char *name;
        QByteArray index;
        QString signature;
        QString identity;
        bool runs;
    };
    const QByteArray otherImage = indexFor(image(4001), "HJE-XAV");
    const QList<Case> cases = {
        {"signed", index, good, "HJE-XAV-V1.2.0", true},
        {"picked file", {}, {}, "HJE-XAV-V1.2.0", true},
        {"index changed after signing", QByteArray(index).replace("1.3.0", "1.3.1"), good,
         "HJE-XAV-V1.2.0", false},
        {"another key", index, signed_index::sign(index, QByteArray(32, 'x')).toBase64(),
         "HJE-XAV-V1.2.0", false},
        {"no signature", index, {}, "HJE-XAV-V1.2.0", false},
        {"signature that is no base64", index, "!" + good.mid(1), "HJE-XAV-V1.2.0", false},
        {"another image", otherImage, signed_index::sign(otherImage, seed).toBase64(),
         "HJE-XAV-V1.2.0", false},
        {"another model", index, good, "TOB-NIR-V1.2.0", false},
    };
    for (const Case &c : cases) {
        QStringList started;
        PageServices services;
        services.updatePublicKey = client_update::publicKeyForSeed(seed);
        services.startFirmwareUpdate = [&](const QString &id, const QString &, EventSink &,
                                           std::function<void()> finished) {
            started << id;
            finished();
        };
        test::PageFixture page(services);
        QJsonObject query{
            {"FuncName", "ExecuteUpdateFirmware"}, {"Version", c.identity}, {"FilePath", path}};
        if (!c.index.isNull())
            query.insert("Index", QString::fromUtf8(c.index));
        if (!c.signature.isNull())
            query.insert("IndexSignature", c.signature);
        page.call(QJsonDocument(query).toJson(QJsonDocument::Compact));
        EXPECT_EQ(started.size(), c.runs ? 1 : 0) << c.name;
        if (!c.runs) {
            ASSERT_EQ(page.events.events().size(), 1) << c.name;
            EXPECT_EQ(page.events.events().first().second,
                      (QVariantList{QStringLiteral("-1"), QStringLiteral("signature")}))
                << c.name;
        }
    }
}
