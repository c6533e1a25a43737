// Every per-model template: its structure, that its names exist in its generation's function
// table, and that every element the page may send back goes through the real dispatch to the
// device without being dropped and without a write the device operations would refuse.
#include "device/device_registry.h"
#include "recording_device.h"
#include "translate/d4_code_lookup.h"
#include "translate/device_data_handler.h"
#include "translate/sync_model_templates.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <sstream>

using namespace torvanix;
using namespace torvanix::test;

namespace {

QString text(const QString &resource) {
    QFile f(resource);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString attr(const pugi::xml_node &n, const char *name) {
    return QString::fromUtf8(n.attribute(name).value());
}

QString write(const pugi::xml_document &doc) {
    std::ostringstream out;
    doc.save(out, "\t");
    return QString::fromStdString(out.str());
}

QString generationOf(const QString &family) {
    if (family == "hfd" || family == "keyboard-d4")
        return "D4.0";
    if (family == "mouse-d3")
        return "D3.0";
    return "D2.0";
}

const QSet<QString> kInfoKeys{"UsbId", "FirmwareVersion", "SN", "CurProfile"};
const QSet<QString> kEffectKeys{"LightMode", "LightRGB", "LightBrightness", "LightSpeed",
                                "LightDirection"};

// One document per element the page may send: the whole template with the element (and what
// encloses it) marked with its action.
QStringList setDocuments(const QString &templateText, const QString &family) {
    QStringList docs;
    pugi::xml_document base;
    base.load_string(templateText.toUtf8().constData());
    auto variant = [&](auto mark) {
        pugi::xml_document d;
        d.reset(base);
        mark(d);
        docs << write(d);
    };
    const pugi::xml_node root = base.child("configuration");
    if (root.child("devices")) {
        docs << templateText;
        return docs;
    }
    int i = 0;
    for (pugi::xml_node k = root.child("key"); k; k = k.next_sibling("key"), ++i) {
        const QString name = attr(k, "name");
        if (kInfoKeys.contains(name) || name.startsWith(QStringLiteral("命令")))
            continue;
        variant([&](pugi::xml_document &d) {
            pugi::xml_node n = d.child("configuration").child("key");
            for (int s = 0; s < i; ++s)
                n = n.next_sibling("key");
            n.append_attribute("action") = name == "ResetFlg" ? "get" : "set";
        });
    }
    for (const char *zone : {"light", "lightLeft"}) {
        int m = 0;
        for (pugi::xml_node mode : root.child(zone).children("mode")) {
            const int modeAt = m++;
            auto modeIn = [&](pugi::xml_document &d) {
                pugi::xml_node n = d.child("configuration").child(zone).child("mode");
                for (int s = 0; s < modeAt; ++s)
                    n = n.next_sibling("mode");
                n.append_attribute("action") = "set";
                return n;
            };
            if (attr(mode, "name") != "Default") {
                variant(modeIn);
                continue;
            }
            int k = 0;
            for (pugi::xml_node key : mode.children("key")) {
                const int keyAt = k++;
                if (!kEffectKeys.contains(attr(key, "name")))
                    continue;
                variant([&](pugi::xml_document &d) {
                    pugi::xml_node n = modeIn(d).child("key");
                    for (int s = 0; s < keyAt; ++s)
                        n = n.next_sibling("key");
                    n.append_attribute("action") = "set";
                });
            }
        }
    }
    if (root.child("dpi")) {
        if (family == "mouse-d3") {
            int k = 0;
            for (pugi::xml_node key = root.child("dpi").child("key"); key;
                 key = key.next_sibling("key"), ++k) {
                const int at = k;
                variant([&](pugi::xml_document &d) {
                    pugi::xml_node n = d.child("configuration").child("dpi").child("key");
                    for (int s = 0; s < at; ++s)
                        n = n.next_sibling("key");
                    n.append_attribute("action") = "set";
                });
            }
        } else {
            variant([](pugi::xml_document &d) {
                d.child("configuration").child("dpi").append_attribute("action") = "set";
            });
        }
    }
    int p = 0;
    for (pugi::xml_node key = root.child("parameters").child("key"); key;
         key = key.next_sibling("key"), ++p) {
        const int at = p;
        variant([&](pugi::xml_document &d) {
            pugi::xml_node n = d.child("configuration").child("parameters").child("key");
            for (int s = 0; s < at; ++s)
                n = n.next_sibling("key");
            n.append_attribute("action") = "set";
        });
    }
    return docs;
}

struct Models : ::testing::Test {
    static void SetUpTestSuite() {
        DeviceRecordMap records;
        for (const char *id : {"TOB-NIR-V1.2.0", "HJE-XUB-V1.5.0", "0c458075", "05AC024F",
                               "258A002E", "QPA-RTE-V1.1.0", "HJE-XAV-V1.2.0", "WSU-DFO-V1.1.0"})
            records.insert(id, QJsonObject{{"Version", id}, {"DevicePath", "path"}});
        PublishedDevices::instance().publish(records);
    }
};

} // namespace

TEST_F(Models, EveryDemoModelHasATemplateUnderItsRecordsVersion) {
    const QStringList names = modelTemplateNames();
    for (const char *version :
         {"TOB-NIR-V1.2.0", "HJE-XUB-V1.5.0", "0c458075", "05AC024F", "05ac024f", "258A002E",
          "258a002e", "QPA-RTE-V1.1.0", "HJE-XAV-V1.2.0", "WSU-DFO-V1.1.0", "sync"})
        EXPECT_TRUE(names.contains(version)) << version;
}

TEST_F(Models, TemplatesAreWellFormedAndUseTheirTablesNames) {
    DriverTemplates tables;
    ASSERT_TRUE(tables.loadBuiltIn());
    for (const QString &name : modelTemplateNames()) {
        SCOPED_TRACE(name.toStdString());
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(text(":/drive/" + name).toUtf8().constData()));
        const pugi::xml_node root = doc.child("configuration");
        ASSERT_TRUE(root);
        EXPECT_TRUE(attr(root, "Ver") == "K2.0" || attr(root, "Ver") == "M1.0");
        EXPECT_EQ(attr(root, "name"), QStringLiteral("本地配置"));
        EXPECT_FALSE(attr(root, "model").isEmpty());
        EXPECT_TRUE(doc.select_node("//*[@action]").node().empty()) << "templates carry no action";

        const QString id = attr(root.find_child_by_attribute("key", "name", "UsbId"), "value");
        EXPECT_EQ(id.toUpper(), name.toUpper());
        const QString family =
            device_data_handler::translatorName(device_data_handler::normaliseIdentity(id));
        const CodeLookup lookup = templateLookup(tables, generationOf(family));
        const bool d2 = generationOf(family) == "D2.0";

        QSet<QString> names, keySlots, rcs, ncs;
        for (pugi::xml_node k : root.children("key")) {
            const QString keyName = attr(k, "name");
            EXPECT_FALSE(names.contains(keyName)) << keyName.toStdString();
            names << keyName;
            if (!keyName.startsWith("Button"))
                continue;
            const QString task = attr(k, "task");
            const QString type = attr(k, "type").toUpper();
            if (type == "KEYBOARD")
                EXPECT_GE(keyUsage(lookup, task), 0) << task.toStdString();
            else
                EXPECT_FALSE(functionBytes(lookup, task).isEmpty()) << task.toStdString();
            if (d2) {
                const int slot = attr(k, "index").toInt();
                EXPECT_TRUE(slot >= 11 && slot <= 150 && slot != 5) << slot;
                EXPECT_EQ(attr(k, "length"), "15");
                EXPECT_FALSE(keySlots.contains(attr(k, "index")));
                keySlots << attr(k, "index");
            }
            const int rc = attr(k, "rc").toInt();
            EXPECT_FALSE(rcs.contains(attr(k, "rc")));
            rcs << attr(k, "rc");
            EXPECT_LT(rc, family == "hfd" ? 144 : 132);
            if (family == "keyboard-d4" || family == "mouse-d3") {
                EXPECT_FALSE(ncs.contains(attr(k, "nc")));
                ncs << attr(k, "nc");
                EXPECT_LT(attr(k, "nc").toInt(), 132);
            }
        }
        for (pugi::xpath_node m : doc.select_nodes("/configuration/*/mode[@name='LightUp']")) {
            int entries = 0;
            for (pugi::xml_node k : m.node().children("key")) {
                ++entries;
                if (d2)
                    EXPECT_FALSE(lookup.code(attr(k, "name")).isEmpty())
                        << attr(k, "name").toStdString();
                else
                    EXPECT_LT(attr(k, "rc").toInt(), family == "hfd" ? 144 : 132);
            }
            if (d2) {
                EXPECT_LE(entries, 110);
                EXPECT_EQ(attr(m.node(), "length"), "440");
            }
        }
        if (family == "mouse-d3") {
            const pugi::xml_node dpi = root.child("dpi");
            EXPECT_EQ(attr(dpi, "count").toInt(),
                      int(std::distance(dpi.children("key").begin(), dpi.children("key").end())));
        }
    }
}

TEST_F(Models, EverySettableElementReachesTheDeviceThroughTheDispatch) {
    RecordingDeviceOperations ops;
    RecordingPacer pacer(ops.log());
    CollectingEventSink events;
    device_data_handler handler(ops, events);
    for (const char *g : {":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0"})
        ASSERT_TRUE(handler.loadDriverTemplate(g));
    handler.setPacer(&pacer);
    QThreadPool pool;
    handler.setThreadPool(&pool);

    int documents = 0;
    for (const QString &name : modelTemplateNames()) {
        const QString tmpl = text(":/drive/" + name);
        pugi::xml_document doc;
        doc.load_string(tmpl.toUtf8().constData());
        const QString family =
            device_data_handler::translatorName(device_data_handler::normaliseIdentity(
                attr(doc.child("configuration").find_child_by_attribute("key", "name", "UsbId"),
                     "value")));
        for (const QString &d : setDocuments(tmpl, family)) {
            const QStringList marked = d.split('\n').filter("action=");
            SCOPED_TRACE((name + ": " + marked.join(" | ").trimmed()).toStdString());
            ops.log().clear();
            ASSERT_EQ(handler.writeDevice(d), device_data_handler::Dispatch::Started);
            ASSERT_TRUE(handler.waitForDone(10000));
            QStringList calls = ops.calls().filter(QRegularExpression("^(?!pause)"));
            EXPECT_FALSE(calls.isEmpty()) << "nothing reached the device";
            ++documents;
        }
    }
    EXPECT_EQ(ops.refusedWrites(), 0);
    EXPECT_GT(documents, 100);
}
