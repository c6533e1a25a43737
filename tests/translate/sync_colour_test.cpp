// Lighting synchronisation: which library calls each listed device gets, and that a static
// colour shows the document's red, green and blue on both libraries.
#include "device/library_tables.h"
#include "recording_device.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include <gtest/gtest.h>

inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace torvanix;
using namespace torvanix::test;

namespace {

struct Sync : ::testing::Test {
    RecordingDeviceOperations ops;
    RecordingPacer pacer{ops.log()};
    CollectingEventSink events;
    DriverTemplates templates;
    TranslationContext ctx{ops, templates, events, pacer, nullptr};

    QStringList run(const QString &devices) {
        ops.log().clear();
        translateLightSync(ctx, QStringLiteral("<?xml version=\"1.0\"?><configuration>"
                                               "<key name=\"UsbId\" value=\"SYNC\"/>"
                                               "<devices>%1</devices></configuration>")
                                    .arg(devices));
        return ops.calls();
    }
    static QString device(const char *version, int sync, const char *rgb = "ff8000") {
        return QStringLiteral("<device name=\"x\" version=\"%1\" sync=\"%2\" rgb=\"%3\"/>")
            .arg(QLatin1String(version))
            .arg(sync)
            .arg(QLatin1String(rgb));
    }
    static QStringList fields(const QString &line) { return line.split(' '); }
};

} // namespace

TEST_F(Sync, StaticColourIsTheDocumentsColourOnBothLibraries) {
    const QStringList calls =
        run(device("258A002E", 1, "123456") + device("05ac024f", 1, "123456"));
    ASSERT_EQ(calls.size(), 2);
    const QStringList ms = fields(calls.at(0));
    EXPECT_EQ(ms.mid(0, 5), QStringList({"ms.setLightColor", "2", "4", "4", "4"}));
    EXPECT_EQ(mouseLightColour(ms.at(5).toInt(), ms.at(6).toInt(), ms.at(7).toInt()), 0x123456);
    const QStringList kb = fields(calls.at(1));
    EXPECT_EQ(kb.mid(0, 5), QStringList({"kb.setLed", "1", "5", "5", "0"}));
    EXPECT_EQ(keyboardLedColour(kb.at(5).toInt(), kb.at(6).toInt(), kb.at(7).toInt()), 0x123456);
}

TEST_F(Sync, EffectNumbersAndSkippedDevices) {
    const QStringList calls =
        run(device("258A002E", 2) + device("258A002E", 5) + device("05AC024F", 4) +
            device("05AC024F", 3, "0000ff") + device("PIKE5181", 2) + device("05AC024F", 0) +
            "<!-- comment -->" + device("258A002E", 0));
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls.at(0), "ms.setLightValue 3 4");
    EXPECT_EQ(calls.at(1), "ms.setLightValue 5 4");
    const QStringList k17 = fields(calls.at(2));
    EXPECT_EQ(k17.mid(0, 5), QStringList({"kb.setLed", "17", "5", "5", "1"}));
    EXPECT_EQ(keyboardLedColour(k17.at(5).toInt(), k17.at(6).toInt(), k17.at(7).toInt()), 0xFF8000);
    const QStringList k3 = fields(calls.at(3));
    EXPECT_EQ(keyboardLedColour(k3.at(5).toInt(), k3.at(6).toInt(), k3.at(7).toInt()), 0x0000FF);
}

TEST_F(Sync, EmptyOrMissingListDoesNothing) {
    EXPECT_TRUE(run(QString()).isEmpty());
    translateLightSync(ctx, "<configuration><key name=\"UsbId\" value=\"SYNC\"/></configuration>");
    translateLightSync(ctx, "<configuration");
    EXPECT_TRUE(ops.calls().isEmpty());
    EXPECT_TRUE(events.events().isEmpty());
}
