// Screen images of the D2.0 keyboard with a screen: slot records, the chunked upload of the
// converter's output, and image names that try to leave the program folder.

#include "recording_device.h"
#include "translate/d2_screen.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

class Screen : public ::testing::Test {
protected:
    Screen() : ops(log), pacer(log) {
        tables.loadBuiltIn();
        QDir(dir.path()).mkpath(QStringLiteral("screen"));
    }
    void writeFile(const QString &relative, const QByteArray &content) {
        QFile f(dir.filePath(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void run(const QString &body) {
        TranslationContext ctx{ops, tables, events, pacer, {}, dir.path()};
        translateGenericD2(ctx, QStringLiteral("<configuration><key name=\"UsbId\" "
                                               "value=\"HJE-XUB-V1.5.0\"/>") +
                                    body + QStringLiteral("</configuration>"));
    }
    QStringList writes() const {
        QStringList out;
        for (const QString &l : log.lines())
            if (!l.startsWith(QLatin1String("pause")))
                out << l;
        return out;
    }

    QTemporaryDir dir;
    CallLog log;
    RecordingDeviceOperations ops;
    RecordingPacer pacer;
    CollectingEventSink events;
    DriverTemplates tables;
};

QString digestItems(const QByteArray &content) {
    const QString hex = QString::fromLatin1(
        QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper());
    QStringList items;
    for (int i = 0; i < 32; i += 2)
        items << hex.mid(i, 2);
    return items.join(',');
}

TEST_F(Screen, UploadWritesTheSlotThenTheConvertedImageInChunks) {
    writeFile(QStringLiteral("screen/cat.png"), "picture");
    QByteArray image(500, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i & 0xFF);
    writeFile(QStringLiteral("screen/temp_abc.bin"), image);

    run(QStringLiteral("<key name=\"GlobalScreen\" index=\"60\" length=\"18\" slot=\"3\" "
                       "value=\"screen/cat.png\" action=\"set\"/>"));
    const QStringList calls = log.lines();
    ASSERT_EQ(calls.size(), 2 + 3 * 2);
    EXPECT_EQ(calls.at(0), QStringLiteral("writeProperty HJE-XUB-V1.5.0 60 18 ") +
                               digestItems("picture") + QStringLiteral(",3,0x00"));
    EXPECT_EQ(calls.at(1), "readProperty HJE-XUB-V1.5.0 60 18");
    // 500 bytes: two full chunks and an empty closing one, each followed by 300 ms.
    const QStringList first = calls.at(2).split(' ');
    EXPECT_EQ(first.at(3), "251");
    EXPECT_TRUE(first.at(4).startsWith("0x00,0,1,2,3,"));
    EXPECT_EQ(calls.at(3), "pause 300");
    const QStringList second = calls.at(4).split(' ');
    EXPECT_EQ(second.at(3), "251");
    EXPECT_TRUE(second.at(4).startsWith("0x00,fa,fb,fc,fd,fe,ff,0,1,"));
    EXPECT_EQ(calls.at(6), "writeProperty HJE-XUB-V1.5.0 60 1 0x01");
    EXPECT_EQ(calls.at(7), "pause 300");
    EXPECT_EQ(ops.refusedWrites(), 0);
    // The converter output is consumed.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("screen/temp_abc.bin"))));
}

TEST_F(Screen, ShortImageIsOneLastChunk) {
    writeFile(QStringLiteral("a.png"), "x");
    writeFile(QStringLiteral("screen/temp_abc.bin"), QByteArray("\x10\x20\x30", 3));
    run(QStringLiteral("<key name=\"GlobalScreen\" index=\"60\" length=\"17\" value=\"a.png\" "
                       "action=\"set\"/>"));
    EXPECT_EQ(writes().last(), "writeProperty HJE-XUB-V1.5.0 60 4 0x01,10,20,30");
}

TEST_F(Screen, MissingFilesAndNoConverterOutput) {
    run(QStringLiteral("<key name=\"GlobalScreen\" index=\"60\" length=\"17\" value=\"gone.png\" "
                       "action=\"set\"/>"));
    // No picture: an empty digest (read as zeros); no converter output: no chunks.
    EXPECT_EQ(writes(), (QStringList{"writeProperty HJE-XUB-V1.5.0 60 17 ,,,,,,,,,,,,,,,,0",
                                     "readProperty HJE-XUB-V1.5.0 60 17"}));
}

TEST_F(Screen, NamesOutsideTheProgramFolderAreRefused) {
    writeFile(QStringLiteral("screen/temp_abc.bin"), "abc");
    for (const char *name : {"../secret.png", "/etc/passwd", "screen/../../x.png", ""}) {
        log.clear();
        run(QStringLiteral("<key name=\"GlobalScreen\" index=\"60\" length=\"17\" value=\"%1\" "
                           "action=\"set\"/>")
                .arg(QString::fromUtf8(name)));
        EXPECT_TRUE(log.lines().isEmpty()) << name;
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("screen/temp_abc.bin"))));
    EXPECT_EQ(screenImagePath(QStringLiteral("/opt/app"), QStringLiteral("screen/a.png")),
              "/opt/app/screen/a.png");
    EXPECT_EQ(screenImagePath(QStringLiteral("/opt/app"), QStringLiteral("screen/../a.png")),
              "/opt/app/a.png");
    EXPECT_EQ(screenImagePath(QStringLiteral("/opt/app"), QStringLiteral("../app2/a.png")), "");
}

TEST_F(Screen, TheEndOfAnUploadIsAnsweredWithTheBytesSent) {
    writeFile(QStringLiteral("screen/a.png"), "x");
    writeFile(QStringLiteral("screen/temp_abc.bin"), QByteArray(260, '\x11'));
    const QString key = QStringLiteral("<key name=\"GlobalScreen\" index=\"60\" length=\"17\" "
                                       "value=\"screen/a.png\" action=\"set\"/>");
    run(key);
    ASSERT_EQ(events.texts().size(), 1);
    EXPECT_TRUE(events.texts().at(0).contains("sent=\"260\""))
        << events.texts().at(0).toStdString();
    EXPECT_FALSE(events.texts().at(0).contains("action=")) << events.texts().at(0).toStdString();

    // Without converter output the answer says nothing was sent.
    events.clear();
    run(key);
    ASSERT_EQ(events.texts().size(), 1);
    EXPECT_TRUE(events.texts().at(0).contains("sent=\"0\""));

    // A refused write ends the upload, and the answer says so.
    events.clear();
    log.clear();
    writeFile(QStringLiteral("screen/temp_abc.bin"), QByteArray(600, '\x22'));
    ops.writeResult = false;
    run(key);
    ASSERT_EQ(events.texts().size(), 1);
    EXPECT_TRUE(events.texts().at(0).contains("sent=\"-1\""));
    EXPECT_EQ(writes().size(), 1) << "only the refused slot record";
}

TEST_F(Screen, DeleteWritesAnEmptySlotRecord) {
    run(QStringLiteral("<key name=\"GlobalScreen\" index=\"61\" length=\"17\" slot=\"12\" "
                       "action=\"del\"/>"));
    EXPECT_EQ(writes(), QStringList{"writeProperty HJE-XUB-V1.5.0 61 17 "
                                    "00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,c"});
}

} // namespace
