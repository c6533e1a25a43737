// torvanix-ctl `macro` and `apply` against the simulated devices: what the packet keyboard,
// the library keyboard and the library mouse hold afterwards. Uses the model templates as the
// page would send them back.
#include "translate/sync_model_templates.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sstream>

namespace {

const QString kProgramDir = QStringLiteral(TORVANIX_PROGRAM_DIR);

struct Simulator : ::testing::Test {
    QTemporaryDir dir;
    QString out, err;
    QString faults;

    void SetUp() override {
        if (!QFile::exists(kProgramDir + "/torvanix-ctl") ||
            !QFile::exists(kProgramDir + "/libUsbInterface.so") ||
            !QFile::exists(kProgramDir + "/sim-devices.json"))
            GTEST_SKIP() << "torvanix-ctl or the simulated libraries are not built";
        ASSERT_TRUE(dir.isValid());
    }

    int ctl(const QStringList &args, const QByteArray &input = QByteArray()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TORVANIX_SIM_STATE", dir.filePath("state.json"));
        env.insert("TORVANIX_SIM_DEVICES", kProgramDir + "/sim-devices.json");
        env.insert("TORVANIX_NO_PAUSE", "1");
        env.insert("TORVANIX_SIM_FAULTS", faults);
        p.setProcessEnvironment(env);
        p.start(kProgramDir + "/torvanix-ctl",
                QStringList{"--no-pause", "--devices", kProgramDir} + args);
        EXPECT_TRUE(p.waitForStarted());
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        out = QString::fromUtf8(p.readAllStandardOutput());
        err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    int apply(const QString &document) { return ctl({"apply", "-"}, document.toUtf8()); }

    QJsonObject state() {
        QFile f(dir.filePath("state.json"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    QJsonObject device(const char *pathPart) {
        const QJsonObject devices = state().value("devices").toObject();
        for (auto it = devices.begin(); it != devices.end(); ++it)
            if (it.key().contains(QLatin1String(pathPart), Qt::CaseInsensitive))
                return it.value().toObject();
        return {};
    }
    QByteArray transfer(const char *command) {
        return QByteArray::fromHex(
            device("vid_0c45").value("transfers").toObject().value(command).toString().toLatin1());
    }

    // A model template with one element marked for the device, as the page sends it back.
    static QString fromTemplate(const char *name, const char *xpath) {
        torvanix::initModelTemplates();
        QFile f(QStringLiteral(":/drive/") + name);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        pugi::xml_document doc;
        EXPECT_TRUE(doc.load_string(f.readAll().constData()));
        for (pugi::xpath_node n : doc.select_nodes(xpath))
            n.node().append_attribute("action") = "set";
        std::ostringstream s;
        doc.save(s);
        return QString::fromStdString(s.str());
    }
};

} // namespace

TEST_F(Simulator, MacroTableArrivesWhole) {
    ASSERT_EQ(ctl({"macro", "0c458075",
                   "[{\"content\":\"键盘按下(A)延迟(1000)键盘弹起(A)键盘按下(Shift)键盘按下(B)"
                   "键盘弹起(B)键盘弹起(Shift)延迟(5)键盘按下(Space)键盘弹起(Space):1\"}]"}),
              0)
        << err.toStdString();
    const QByteArray image = transfer("21");
    ASSERT_EQ(image.size(), 448); // seven packets; fewer than announced is fine for the device
    EXPECT_EQ(image.left(4), QByteArray::fromHex("90010000"));
    EXPECT_EQ(image.mid(62, 2), QByteArray::fromHex("aa55"));
    EXPECT_EQ(image.mid(400, 48), QByteArray::fromHex("0a00000000000000"
                                                      "000004b0"
                                                      "e8030050"
                                                      "00000430"
                                                      "0000e1b0"
                                                      "000005b0"
                                                      "00000530"
                                                      "0000e130"
                                                      "05000050"
                                                      "00002cb0"
                                                      "00002c30"));
    EXPECT_EQ(device("vid_0c45").value("lastFinish").toString(), "accepted");
}

// A packet the device refused, or a device gone mid-transfer: no finish is sent, the stored
// table stays the last whole one, the page gets no "saved" answer and the tool says why.
TEST_F(Simulator, AFailedTransferIsNeitherCommittedNorReportedAsSaved) {
    const QString first = "[{\"content\":\"键盘按下(A)键盘弹起(A):1\"}]";
    ASSERT_EQ(ctl({"macro", "0c458075", first}), 0) << err.toStdString();
    const QByteArray stored = transfer("21");
    ASSERT_EQ(stored.size(), 448);

    QString many = "[";
    for (int i = 0; i < 60; ++i)
        many += QString(i ? "," : "") + "{\"content\":\"延迟(7)键盘按下(B)延迟(9)键盘弹起(B):1\"}";
    many += "]";
    faults = "dcWriteHFDData@5";
    EXPECT_NE(ctl({"macro", "0c458075", many}), 0);
    EXPECT_TRUE(err.contains("macro table transfer to 0c458075 failed at the data packet 5"))
        << err.toStdString();
    EXPECT_EQ(transfer("21"), stored) << "a table with a packet missing was committed";

    faults = "vanish:vid_0c45@6";
    EXPECT_NE(apply(fromTemplate("0c458075", "/configuration/key[@name='Button2']")), 0);
    EXPECT_FALSE(out.contains("OnNotifySaveXml")) << out.toStdString();
    EXPECT_TRUE(err.contains("key table transfer")) << err.toStdString();
    EXPECT_TRUE(transfer("17").isEmpty());
}

TEST_F(Simulator, PacketKeyboardTemplateDrivesKeysLightingAndPower) {
    ASSERT_EQ(apply(fromTemplate("0c458075", "/configuration/key[@name='Button2']")), 0)
        << err.toStdString();
    const QByteArray keys = transfer("17");
    ASSERT_EQ(keys.size(), 640);
    EXPECT_EQ(keys.left(8), QByteArray::fromHex("0200290002003a00")); // ESC, F1
    EXPECT_EQ(keys.right(2), QByteArray::fromHex("aa55"));
    const QJsonObject kb = device("vid_0c45");
    EXPECT_EQ(kb.value("transferHeads").toObject().value("17").toInt(), 1);
    EXPECT_TRUE(kb.value("singleValues").toObject().contains("24"));
    EXPECT_TRUE(out.contains("OnNotifySaveXml"));
    EXPECT_FALSE(out.contains("action=\\\"set\\\""));

    ASSERT_EQ(apply(fromTemplate("0c458075", "/configuration/light/mode[@name='Default']")), 0);
    const QByteArray effects = transfer("19");
    ASSERT_EQ(effects.size(), 384);
    EXPECT_EQ(effects.mid(320, 16), QByteArray::fromHex("010000ffff000403"
                                                        "01100c000000aa55"));
    EXPECT_TRUE(device("vid_0c45").value("singleValues").toObject().contains("240"));

    ASSERT_EQ(apply(fromTemplate("0c458075", "/configuration/light/mode[@name='LightUp']")), 0);
    const QByteArray colours = transfer("19");
    ASSERT_EQ(colours.size(), 576);
    EXPECT_EQ(colours.left(8), QByteArray::fromHex("80ffffff80ffffff"));
    EXPECT_EQ(device("vid_0c45").value("transferHeads").toObject().value("19").toInt(), 0x81);

    ASSERT_EQ(apply(fromTemplate("0c458075", "/configuration/key[@name='Power']")), 0);
    EXPECT_TRUE(out.contains("name=\\\"Power\\\" index=\\\"97\\\" length=\\\"1\\\" "
                             "value=\\\"87\\\""))
        << out.toStdString();
}

TEST_F(Simulator, LibraryFamiliesAndSync) {
    ASSERT_EQ(apply(fromTemplate("05AC024F", "/configuration/light/mode[@name='Default']")), 0)
        << err.toStdString();
    EXPECT_EQ(state().value("KBAccess").toObject().value("led").toArray(),
              QJsonArray({1, 5, 5, 1, 0xFFEA7B}));

    ASSERT_EQ(apply(fromTemplate("sync", "/nothing")), 0) << err.toStdString();
    const QJsonObject st = state();
    EXPECT_EQ(st.value("KBAccess").toObject().value("led").toArray(),
              QJsonArray({1, 5, 5, 0, 0x00FFFF}));
    const QJsonArray config = st.value("ByDevInterface").toObject().value("config").toArray();
    ASSERT_EQ(config.size(), 165);
    EXPECT_EQ(config.at(0).toInt(), 2);                     // the static colour mode
    EXPECT_EQ(config.at(1 + 13 * 2 + 4).toInt(), 0x00FFFF); // its first colour

    ASSERT_EQ(apply(fromTemplate("258a002e", "/configuration/dpi/key[@name='Dpi2']")), 0);
    const QJsonArray dpi = state().value("ByDevInterface").toObject().value("config").toArray();
    EXPECT_EQ(dpi.at(131).toInt(), 1);
    EXPECT_EQ(dpi.at(162).toInt(), 4);
}
