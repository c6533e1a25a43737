// torvanix-ctl apply against the simulated device libraries: every golden D2.0 document for a
// demo device must reach the library exactly as the golden call list predicts (same entries,
// addresses, counts and bytes, in order), as seen in the simulator's trace.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Program = QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix-ctl");
const QString GoldenDir = QStringLiteral(TORVANIX_TEST_DATA_DIR "/d2");

QStringList readLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    out.removeAll(QString());
    return out;
}

QString hexBytes(const QString &commandString) {
    QString out;
    for (const QString &item : commandString.split(QLatin1Char(','))) {
        QString t = item.trimmed();
        if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            t = t.mid(2);
        int end = 0;
        while (end < t.size() && QStringLiteral("0123456789abcdefABCDEF").contains(t.at(end)))
            ++end;
        bool ok = false;
        const uint v = t.left(end).toUInt(&ok, 16);
        out += QStringLiteral("%1").arg(ok ? v & 0xFF : 0, 2, 16, QLatin1Char('0'));
    }
    return out;
}

// The library calls a golden call list stands for.
QStringList expectedLibraryCalls(const QStringList &calls) {
    QStringList out;
    for (const QString &line : calls) {
        const QStringList f = line.split(QLatin1Char(' '));
        const QString op = f.value(0);
        if (op == QLatin1String("writeProperty") || op == QLatin1String("writePropertyForQpa"))
            out << QStringLiteral("%1 %2 %3 %4")
                       .arg(op)
                       .arg(f.value(2).toInt() & 0xFF)
                       .arg(f.value(3), hexBytes(f.value(4)));
        else if (op == QLatin1String("readProperty") || op == QLatin1String("isAreaBlank"))
            out << QStringLiteral("readProperty %1 %2").arg(f.value(2), f.value(3));
        else if (op == QLatin1String("clearArea"))
            out << QStringLiteral("writeProperty %1 %2 %3")
                       .arg(f.value(2), f.value(3),
                            QString(f.value(3).toInt() * 2, QLatin1Char('0')));
        else if (op == QLatin1String("resetDevice"))
            out << QStringLiteral("resetDevice");
        else if (op == QLatin1String("readInputReport"))
            out << QStringLiteral("readInputReport %1").arg(f.value(2));
    }
    return out;
}

QStringList tracedLibraryCalls(const QString &traceFile) {
    QStringList out;
    for (const QString &line : readLines(traceFile)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("lib").toString() != QLatin1String("UsbInterface"))
            continue;
        const QString call = o.value("call").toString();
        const int arg = o.value("arg").toInt();
        const int count = o.value("count").toInt();
        if (call == QLatin1String("dcWriteProperty"))
            out << QStringLiteral("writeProperty %1 %2 %3")
                       .arg(arg)
                       .arg(count)
                       .arg(o.value("bytes").toString());
        else if (call == QLatin1String("dcWritePropertyForQPA"))
            out << QStringLiteral("writePropertyForQpa %1 %2 %3")
                       .arg(arg)
                       .arg(count)
                       .arg(o.value("bytes").toString());
        else if (call == QLatin1String("dcReadProperty"))
            out << QStringLiteral("readProperty %1 %2").arg(arg).arg(count);
        else if (call == QLatin1String("Reset"))
            out << QStringLiteral("resetDevice");
        else if (call == QLatin1String("dcReadInputReport"))
            out << QStringLiteral("readInputReport %1").arg(count);
    }
    return out;
}

TEST(CtlApplyOnSimulator, GoldenDocumentsReachTheLibrary) {
    if (!QFile::exists(Program) ||
        !QFile::exists(QStringLiteral(TORVANIX_PROGRAM_DIR "/libUsbInterface.so")))
        GTEST_SKIP() << "torvanix-ctl or the simulated libraries are not built";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());

    int run = 0;
    const QStringList cases =
        QDir(GoldenDir).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    for (const QString &file : cases) {
        const QString base = GoldenDir + QLatin1Char('/') + file.chopped(4);
        // Scripted replies are the recording doubles' business; the demo set lacks V1.1.0.
        if (QFile::exists(base + QStringLiteral(".setup")) || file.startsWith(QLatin1String("h07")))
            continue;
        const QString trace = tmp.filePath(file + QStringLiteral(".trace"));
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TORVANIX_SIM_TRACE"), trace);
        env.insert(QStringLiteral("TORVANIX_SIM_STATE"),
                   tmp.filePath(file + QStringLiteral(".state")));
        env.remove(QStringLiteral("TORVANIX_SIM_DEVICES"));
        env.remove(QStringLiteral("TORVANIX_SIM_FAULTS"));
        ctl.setProcessEnvironment(env);
        ctl.start(Program, {QStringLiteral("--no-pause"), QStringLiteral("apply"),
                            base + QStringLiteral(".xml")});
        ASSERT_TRUE(ctl.waitForFinished(60000)) << file.toStdString();
        EXPECT_EQ(ctl.exitStatus(), QProcess::NormalExit) << file.toStdString();
        EXPECT_EQ(ctl.exitCode(), 0) << file.toStdString();
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        EXPECT_FALSE(err.contains(QStringLiteral("dropped")))
            << file.toStdString() << err.toStdString();

        const QStringList expected =
            expectedLibraryCalls(readLines(base + QStringLiteral(".calls")));
        const QStringList actual = tracedLibraryCalls(trace);
        EXPECT_EQ(actual, expected)
            << file.toStdString()
            << "\n  traced: " << actual.join(QStringLiteral(" | ")).toStdString()
            << "\n  golden: " << expected.join(QStringLiteral(" | ")).toStdString();
        ++run;
    }
    EXPECT_GE(run, 40);
}

TEST(CtlApplyOnSimulator, AnswersArePrintedAsEventLinesAndDroppedDocumentsSayWhy) {
    if (!QFile::exists(Program) ||
        !QFile::exists(QStringLiteral(TORVANIX_PROGRAM_DIR "/libUsbInterface.so")))
        GTEST_SKIP() << "torvanix-ctl or the simulated libraries are not built";
    QTemporaryDir tmp;
    auto apply = [&](const QByteArray &document, QString &out, QString &err) {
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TORVANIX_SIM_STATE"), tmp.filePath(QStringLiteral("state")));
        env.remove(QStringLiteral("TORVANIX_SIM_DEVICES"));
        ctl.setProcessEnvironment(env);
        ctl.start(Program,
                  {QStringLiteral("--no-pause"), QStringLiteral("apply"), QStringLiteral("-")});
        ctl.write(document);
        ctl.closeWriteChannel();
        EXPECT_TRUE(ctl.waitForFinished(60000));
        out = QString::fromUtf8(ctl.readAllStandardOutput());
        err = QString::fromUtf8(ctl.readAllStandardError());
        return ctl.exitCode();
    };
    QString out, err;
    EXPECT_EQ(apply("<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" "
                    "value=\"WSU-DFO-V1.1.0.6\"/><key name=\"ResetFlg\" index=\"8\" value=\"9\" "
                    "action=\"get\"/></configuration>",
                    out, err),
              0);
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << out.toStdString();
    EXPECT_TRUE(
        lines.first().startsWith(QStringLiteral("{\"event\":\"OnNotifySaveXml\",\"args\":[")));
    const QJsonObject event = QJsonDocument::fromJson(lines.first().toUtf8()).object();
    const QString answer = event.value("args").toArray().at(0).toString();
    EXPECT_TRUE(answer.contains(QStringLiteral("value=\"0\""))) << answer.toStdString();
    EXPECT_FALSE(answer.contains(QStringLiteral("action=")));

    EXPECT_EQ(apply("<configuration", out, err), 0);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(err.contains(QStringLiteral("does not parse")));
    EXPECT_EQ(apply("<configuration/>", out, err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("no UsbId")));
    EXPECT_EQ(apply("<configuration><key name=\"UsbId\" value=\"NOT-THERE-V1\"/></configuration>",
                    out, err),
              0);
    EXPECT_TRUE(err.contains(QStringLiteral("no listed device")));
}

// Without a state file the run is short enough that a worker still finishing its last
// translation used to meet the handler already being destroyed (a crash in some runs).
TEST(CtlApplyOnSimulator, ShortRunsWithoutStateFileEndCleanly) {
    if (!QFile::exists(Program) ||
        !QFile::exists(QStringLiteral(TORVANIX_PROGRAM_DIR "/libUsbInterface.so")))
        GTEST_SKIP() << "torvanix-ctl or the simulated libraries are not built";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TORVANIX_SIM_STATE"));
    env.remove(QStringLiteral("TORVANIX_SIM_DEVICES"));
    env.remove(QStringLiteral("TORVANIX_SIM_FAULTS"));
    const QByteArray document =
        "<configuration><key name=\"UsbId\" value=\"WSU-DFO-V1.1.0.6\"/><parameters><key "
        "name=\"sleep\" index=\"175\" value=\"300\" action=\"set\"/></parameters>"
        "</configuration>";
    const QStringList runs[] = {
        {QStringLiteral("--no-pause"), QStringLiteral("apply"), QStringLiteral("-")},
        {QStringLiteral("--no-pause"), QStringLiteral("macro"), QStringLiteral("HJE-XUB-V1.5.0"),
         QStringLiteral("[]")}};
    for (const QStringList &args : runs) {
        for (int i = 0; i < 15; ++i) {
            QProcess ctl;
            ctl.setProcessEnvironment(env);
            ctl.start(Program, args);
            ctl.write(document);
            ctl.closeWriteChannel();
            ASSERT_TRUE(ctl.waitForFinished(60000));
            ASSERT_EQ(ctl.exitStatus(), QProcess::NormalExit)
                << args.at(1).toStdString() << " run " << i;
            ASSERT_EQ(ctl.exitCode(), 0) << args.at(1).toStdString() << " run " << i;
        }
    }
}

} // namespace
