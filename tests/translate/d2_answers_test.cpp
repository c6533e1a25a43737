// Answers of the D2.0 queries: what is filled in, which action texts go, and that everything
// else of the request survives.

#include "recording_device.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace torvanix;
using namespace torvanix::test;

namespace {

class Answers : public ::testing::Test {
protected:
    Answers() : ops(log), pacer(log) { tables.loadBuiltIn(); }
    QString run(const QString &doc) {
        TranslationContext ctx{ops, tables, events, pacer, {}};
        translateGenericD2(ctx, doc);
        const QStringList texts = events.texts();
        EXPECT_EQ(texts.size(), 1);
        return texts.value(0);
    }
    static QString docWith(const QString &body) {
        return QStringLiteral(
                   "<?xml version=\"1.0\"?>\n<configuration Ver=\"M1.0\" name=\"x\">"
                   "<key name=\"UsbId\" index=\"1\" length=\"4\" value=\"ABC-DEF-V1.0.0\"/>") +
               body +
               QStringLiteral("<extra keep=\"yes\"><child a=\"1\"/></extra></configuration>");
    }

    CallLog log;
    RecordingDeviceOperations ops;
    RecordingPacer pacer;
    CollectingEventSink events;
    DriverTemplates tables;
};

// Every element and attribute of `request` is in `answer` with the same value, except the
// listed (xpath, attribute) pairs; and the answer has nothing the request lacks.
void expectSameTree(const pugi::xml_node &request, const pugi::xml_node &answer) {
    ASSERT_STREQ(request.name(), answer.name());
    for (pugi::xml_attribute a : request.attributes())
        EXPECT_STREQ(answer.attribute(a.name()).value(), a.value())
            << request.name() << "@" << a.name();
    int attrs = 0;
    for (pugi::xml_attribute a : answer.attributes()) {
        (void)a;
        ++attrs;
    }
    int requestAttrs = 0;
    for (pugi::xml_attribute a : request.attributes()) {
        (void)a;
        ++requestAttrs;
    }
    EXPECT_EQ(attrs, requestAttrs) << request.name();
    pugi::xml_node r = request.first_child(), s = answer.first_child();
    for (; r && s; r = r.next_sibling(), s = s.next_sibling())
        expectSameTree(r, s);
    EXPECT_FALSE(r);
    EXPECT_FALSE(s);
}

TEST_F(Answers, ResetFlagKeepsEverythingButItsAction) {
    ops.setReadReply(8, QStringLiteral("0x1b"));
    const QString request =
        docWith(QStringLiteral("<key name=\"ResetFlg\" index=\"9\" length=\"1\" value=\"0\" "
                               "action=\"get\"/><key name=\"Other\" action=\"set\" value=\"2\"/>"));
    const QString answer = run(request);
    EXPECT_FALSE(answer.contains(QStringLiteral("<?xml")));
    EXPECT_FALSE(answer.contains(QStringLiteral("action=\"get\"")));
    EXPECT_TRUE(answer.contains(QStringLiteral("action=\"set\"")));
    EXPECT_TRUE(answer.contains(QLatin1Char('\t')));
    EXPECT_EQ(log.lines(), QStringList{"readProperty ABC-DEF-V1.0.0 8 1"});

    pugi::xml_document want, got;
    ASSERT_TRUE(want.load_string(request.toUtf8().constData()));
    ASSERT_TRUE(got.load_string(answer.toUtf8().constData()));
    pugi::xml_node flag = want.select_node("/configuration/key[@name='ResetFlg']").node();
    flag.attribute("value").set_value("27");
    flag.remove_attribute("action");
    expectSameTree(want.document_element(), got.document_element());
}

TEST_F(Answers, LightingQueryKeepsItsGetAndFillsTheDefaultMode) {
    ops.setReadReply(162, QStringLiteral("0x07"));
    ops.setReadReply(163, QStringLiteral("0x0a"));
    ops.setReadReply(164, QStringLiteral("0x03"));
    ops.setReadReply(165, QStringLiteral("0xff"));
    const QString answer = run(docWith(QStringLiteral(
        "<light index=\"20\" length=\"1\"><mode name=\"Default\" index=\"0\" action=\"get\">"
        "<key name=\"LightMode\" value=\"0\" action=\"set\"/><key name=\"LightBrightness\" "
        "value=\"0\"/>"
        "<key name=\"LightSpeed\" value=\"0\"/><key name=\"LightDirection\" value=\"0\"/>"
        "<key name=\"LightRGB\" value=\"ff8000\"/></mode></light>")));
    EXPECT_TRUE(answer.contains(QStringLiteral("action=\"get\"")));
    EXPECT_FALSE(answer.contains(QStringLiteral("action=\"set\"")));
    pugi::xml_document got;
    ASSERT_TRUE(got.load_string(answer.toUtf8().constData()));
    const pugi::xml_node mode = got.select_node("/configuration/light/mode").node();
    EXPECT_STREQ(mode.attribute("index").value(), "7");
    auto value = [&](const char *name) {
        return std::string(
            mode.find_child_by_attribute("key", "name", name).attribute("value").value());
    };
    EXPECT_EQ(value("LightMode"), "7");
    EXPECT_EQ(value("LightBrightness"), "10");
    EXPECT_EQ(value("LightSpeed"), "3");
    EXPECT_EQ(value("LightDirection"), "255");
    EXPECT_EQ(value("LightRGB"), "ff8000");
}

TEST_F(Answers, ElectricityAnswersBothBytes) {
    ops.setReadReply(7, QStringLiteral("0x64,0x01"));
    const QString answer = run(docWith(QStringLiteral(
        "<key name=\"Electricity\" index=\"7\" length=\"2\" value=\"\" action=\"set\"/>")));
    EXPECT_TRUE(answer.contains(QStringLiteral("value=\"100,1\"")));
    EXPECT_FALSE(answer.contains(QStringLiteral("action=")));
}

const char *DpiQuery = "<dpi index=\"180\" current=\"4\" action=\"get\"><key name=\"Dpi1\"/></dpi>"
                       "<parameters><key name=\"Reportrate\" value=\"250\"/></parameters>";

TEST_F(Answers, DpiQueryReadsTheInputReports) {
    ops.queueInputReport(QByteArray::fromHex("0502"));
    ops.queueInputReport(QByteArray::fromHex("0503"));
    const QString answer = run(docWith(QString::fromLatin1(DpiQuery)));
    pugi::xml_document got;
    ASSERT_TRUE(got.load_string(answer.toUtf8().constData()));
    EXPECT_STREQ(got.select_node("/configuration/dpi").node().attribute("current").value(), "2");
    EXPECT_STREQ(got.select_node("/configuration/parameters/key").node().attribute("value").value(),
                 "1000");
    EXPECT_FALSE(answer.contains(QStringLiteral("action=")));
}

TEST_F(Answers, DpiQueryWithoutReportsLeavesTheValues) {
    // Only the level arrives; the rate query gets nothing.
    ops.queueInputReport(QByteArray::fromHex("0501"));
    const QString answer = run(docWith(QString::fromLatin1(DpiQuery)));
    pugi::xml_document got;
    ASSERT_TRUE(got.load_string(answer.toUtf8().constData()));
    EXPECT_STREQ(got.select_node("/configuration/dpi").node().attribute("current").value(), "1");
    EXPECT_STREQ(got.select_node("/configuration/parameters/key").node().attribute("value").value(),
                 "250");

    events.clear();
    const QString none = run(docWith(QString::fromLatin1(DpiQuery)));
    ASSERT_TRUE(got.load_string(none.toUtf8().constData()));
    EXPECT_STREQ(got.select_node("/configuration/dpi").node().attribute("current").value(), "4");
}

TEST_F(Answers, UnknownRateCodesAreReportedAsTheyCame) {
    ops.queueInputReport(QByteArray::fromHex("0500"));
    ops.queueInputReport(QByteArray::fromHex("0507"));
    const QString answer = run(docWith(QString::fromLatin1(DpiQuery)));
    EXPECT_TRUE(answer.contains(QStringLiteral("current=\"0\"")));
    EXPECT_TRUE(answer.contains(QStringLiteral("value=\"7\"")));
}

TEST_F(Answers, DocumentsThatDoNotParseDoNothing) {
    TranslationContext ctx{ops, tables, events, pacer, {}};
    translateGenericD2(ctx, QStringLiteral("<configuration><key name="));
    translateQpaMouse(ctx, QStringLiteral("not xml"));
    translateHjeMouse(ctx, QString());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(events.events().isEmpty());
}

} // namespace
