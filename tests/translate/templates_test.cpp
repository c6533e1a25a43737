// The built-in generation tables: row counts, the listed rows, the per-generation spellings,
// and that the prebuilt lookup index answers exactly what the expression form
// /Driver/key[@Task="..."] (first node) answers.

#include "translate/driver_templates.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

class Tables : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tables = new DriverTemplates;
        ASSERT_TRUE(tables->loadBuiltIn());
    }
    static void TearDownTestSuite() { delete tables; }
    static const DriverTemplate &gen(const char *v) {
        return tables->generation(QString::fromLatin1(v));
    }
    static DriverTemplates *tables;
};
DriverTemplates *Tables::tables = nullptr;

int keyboardRows(const pugi::xml_document &doc) {
    int n = 0;
    for (pugi::xml_node row : doc.child("Driver").children("key"))
        n += row.attribute("ScanCode") ? 1 : 0;
    return n;
}

QString xpathCode(const pugi::xml_document &doc, const QString &task, const char *attr) {
    const QByteArray q =
        (QStringLiteral("/Driver/key[@Task=\"") + task + QStringLiteral("\"]")).toUtf8();
    try {
        return QString::fromUtf8(doc.select_node(q.constData()).node().attribute(attr).value());
    } catch (const std::exception &) {
        return QString();
    }
}

TEST_F(Tables, LoadUnderTheirVersions) {
    EXPECT_EQ(tables->versions(), (QStringList{"D2.0", "D3.0", "D4.0"}));
    for (const char *v : {"D2.0", "D3.0", "D4.0"}) {
        const pugi::xml_document *doc = tables->document(QString::fromLatin1(v));
        ASSERT_NE(doc, nullptr);
        EXPECT_STREQ(doc->child("Driver").attribute("Name").value(), "功能映射表");
        EXPECT_FALSE(tables->text(QString::fromLatin1(v)).isEmpty());
    }
    EXPECT_EQ(tables->document(QStringLiteral("D9.0")), nullptr);
    EXPECT_EQ(tables->generation(QStringLiteral("D9.0")).code(QStringLiteral("A")), QString());
}

TEST_F(Tables, KeyboardRowsPerGeneration) {
    EXPECT_EQ(keyboardRows(gen("D2.0").document()), 113);
    EXPECT_EQ(keyboardRows(gen("D3.0").document()), 109);
    EXPECT_EQ(keyboardRows(gen("D4.0").document()), 109);

    const DriverTemplate &d2 = gen("D2.0");
    EXPECT_EQ(d2.code("A"), "04");
    EXPECT_EQ(d2.code("Z"), "1D");
    EXPECT_EQ(d2.code("1"), "1E");
    EXPECT_EQ(d2.code("0"), "27");
    EXPECT_EQ(d2.code("LCTRL"), "E0");
    EXPECT_EQ(d2.code("RWIN"), "E7");
    EXPECT_EQ(d2.code("DELETE"), "4C");
    EXPECT_EQ(d2.code("CTRL"), "1");
    EXPECT_EQ(d2.code("SHIFT"), "2");
    EXPECT_EQ(d2.code("ALT"), "4");
    EXPECT_EQ(d2.code("WIN"), "8");
    EXPECT_EQ(d2.code("FN"), "FF");
    EXPECT_EQ(d2.code("MUTE"), "7F");
    EXPECT_EQ(d2.code("CALC"), "92");
    EXPECT_EQ(d2.code("VOICE +"), "80");
    EXPECT_EQ(d2.code("VOICE -"), "81");
    EXPECT_EQ(d2.vkCode("LWIN"), "91");
    EXPECT_EQ(d2.vkCode("RWIN"), "91");
    EXPECT_EQ(d2.vkCode("Num ENTER"), "13");
    EXPECT_EQ(d2.vkCode("MUTE"), "7F");
    EXPECT_EQ(d2.vkCode("VOICE -"), "7F");

    // The first and last D2.0 keyboard rows, in file order.
    QStringList tasks;
    for (pugi::xml_node row : d2.document().child("Driver").children("key"))
        if (row.attribute("ScanCode"))
            tasks << QString::fromUtf8(row.attribute("Task").value());
    EXPECT_EQ(tasks.first(), "A");
    EXPECT_EQ(tasks.mid(26, 10), (QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(tasks.last(), "VOICE -");
    EXPECT_EQ(tasks.indexOf("LCTRL") + 8, tasks.indexOf("APPKEY"));
}

TEST_F(Tables, GenerationSpellings) {
    const DriverTemplate &d2 = gen("D2.0"), &d3 = gen("D3.0"), &d4 = gen("D4.0");
    EXPECT_TRUE(d2.hasTask("CTRL"));
    EXPECT_FALSE(d2.hasTask("Ctrl"));
    EXPECT_TRUE(d3.hasTask("Ctrl"));
    EXPECT_FALSE(d3.hasTask("CTRL"));
    EXPECT_EQ(d3.code("Ctrl"), "1");
    for (const char *t :
         {"Num Lock", "Num Enter",    "Backspace",   "Enter", "Tab",    "CapsLock", "APPkey",
          "Space",    "Print Screen", "Scroll Lock", "Pause", "Insert", "Home",     "Page Up",
          "Delete",   "End",          "Page Down",   "Up",    "Down",   "Left",     "Right"}) {
        EXPECT_TRUE(d3.hasTask(t)) << t;
        EXPECT_TRUE(d4.hasTask(t)) << t;
    }
    EXPECT_TRUE(d3.hasTask("Esc"));
    EXPECT_TRUE(d3.hasTask("="));
    EXPECT_FALSE(d3.hasTask("+"));
    EXPECT_TRUE(d4.hasTask("ESC"));
    EXPECT_TRUE(d4.hasTask("+"));
    EXPECT_EQ(d3.code("="), "2E");
    for (const char *t : {"MUTE", "CALC", "VOICE +", "VOICE -"}) {
        EXPECT_FALSE(d3.hasTask(t));
        EXPECT_FALSE(d4.hasTask(t));
    }
}

TEST_F(Tables, FunctionRows) {
    const DriverTemplate &d2 = gen("D2.0"), &d3 = gen("D3.0"), &d4 = gen("D4.0");
    // Two rows carry the Task "左键"; the first wins.
    EXPECT_EQ(d2.code("左键"), "0x01");
    EXPECT_EQ(lookupTaskCode(d2.document(), QStringLiteral("左键")), "0x01");
    EXPECT_EQ(d2.code("右键"), "0x02");
    EXPECT_EQ(d2.code("单击左键()"), "0x01,0x01,0x00,0x00");
    EXPECT_EQ(d4.code("单击左键()"), "0x01,0x01,0x01,0x00");
    EXPECT_EQ(d4.vkCode("单击左键()"), "0x00000003");
    EXPECT_EQ(d4.vkCode("单击前进键()"), "0x00000403");
    EXPECT_EQ(d2.code("打开自定义()"), "0x09,0x1,0x00,0x00");
    EXPECT_EQ(d2.code("报告率-"), "0x01,0x2A,0x00,0x00");
    EXPECT_EQ(d2.code("LiftUp"), "0x01,0x30,0x00,0x00");
    EXPECT_EQ(d2.code("ResetToDefaults"), "0x07,0x02,0x00,0x00");
    EXPECT_EQ(d2.code("网页书签"), "0x03,0x00,0x2A,0x02");
    EXPECT_FALSE(d3.hasTask("网页书签"));
    EXPECT_FALSE(d4.hasTask("网页搜索"));
    EXPECT_EQ(d2.code("计算器"), "0x03,0x00,0x92,0x01");
    EXPECT_EQ(d3.code("计算器"), "0x03,0x92,0x01,0x00");
    EXPECT_EQ(d2.code("播放/暂停"), "0x03,0x00,0xCD,0x00");
    EXPECT_EQ(d3.code("静音"), "0x03,0x28,0x00,0x00");
    EXPECT_EQ(d4.code("静音"), "");
    EXPECT_EQ(d4.vkCode("静音"), "0x03,0x28,0x00,0x00");
    EXPECT_TRUE(d3.hasTask("向上滚动"));
    EXPECT_FALSE(d4.hasTask("向上滚动"));
    EXPECT_EQ(d4.code("向下滚动"), "0x01,0x12,0x00,0x00");
    EXPECT_EQ(d2.code("Hotkey"), "0x02,{0},{1},{2}");
    EXPECT_EQ(d2.code("HotKey"), "");
    EXPECT_EQ(d2.code("mouseLeft"), "");
    EXPECT_TRUE(d2.hasTask("mouseLeft"));
    EXPECT_EQ(d2.code("down"), "0x84,{0},0x00");
    EXPECT_EQ(d2.code("delayTime"), "0x06,{0},{1}");
    EXPECT_EQ(d2.code("MacroData"), "181");

    const pugi::xml_node repeat =
        d2.document().child("Driver").find_child_by_attribute("key", "Task", "repeatkey");
    QStringList children;
    for (pugi::xml_node c : repeat.children("repeatkey"))
        children << QStringLiteral("%1=%2").arg(QString::fromUtf8(c.attribute("Task").value()),
                                                QString::fromUtf8(c.attribute("Code").value()));
    EXPECT_EQ(children,
              (QStringList{"gLeft=0x81", "gRight=0x82", "gMiddle=0x84", "keyboardkey=Code"}));
}

TEST_F(Tables, MacroStorageRows) {
    for (const char *v : {"D2.0", "D3.0", "D4.0"}) {
        const DriverTemplate &t = gen(v);
        int rows = 0;
        for (int s = 0; s < 30; ++s)
            rows += t.hasTask(QStringLiteral("Macro%1").arg(s));
        EXPECT_EQ(rows, 30) << v;
        EXPECT_EQ(t.code("Macro0"), "181");
        EXPECT_EQ(t.code("Macro1"), "181");
        EXPECT_EQ(t.code("Macro2"), "0xD90");
        EXPECT_EQ(t.code("Macro3"), "0xE58");
        EXPECT_EQ(t.code("Macro4"), "0xF20");
        EXPECT_EQ(t.code("Macro19"), "0x18D8");
        EXPECT_EQ(t.code("Macro23"), "0x1BF8");
        EXPECT_EQ(t.code("Macro29"), "0x21E0");
        const pugi::xml_node m0 =
            t.document().child("Driver").find_child_by_attribute("key", "Task", "Macro0");
        EXPECT_STREQ(m0.attribute("Index").value(), "181");
        EXPECT_STREQ(m0.attribute("Length").value(), "200");
    }
}

// The index must answer what the expression form answers, for every Task of every table and
// for texts that no row carries.
TEST_F(Tables, IndexAgreesWithTheExpressionForm) {
    for (const char *v : {"D2.0", "D3.0", "D4.0"}) {
        const DriverTemplate &t = gen(v);
        QSet<QString> tasks{QStringLiteral("nope"), QString(), QStringLiteral("a"),
                            QStringLiteral("HotKey"), QStringLiteral("gLeft")};
        for (pugi::xml_node row : t.document().child("Driver").children("key"))
            tasks.insert(QString::fromUtf8(row.attribute("Task").value()));
        for (const QString &task : tasks) {
            EXPECT_EQ(t.code(task), xpathCode(t.document(), task, "Code"))
                << v << task.toStdString();
            EXPECT_EQ(t.vkCode(task), xpathCode(t.document(), task, "vkCode"));
            EXPECT_EQ(lookupTaskCode(t.document(), task), t.code(task));
            EXPECT_EQ(lookupTaskVkCode(t.document(), task), t.vkCode(task));
        }
    }
}

TEST_F(Tables, QuotesAndUnknownTasksAnswerEmpty) {
    const DriverTemplate &d2 = gen("D2.0");
    EXPECT_EQ(d2.code("A\"]|//key[@Task=\"B"), "");
    EXPECT_EQ(lookupTaskCode(d2.document(), QStringLiteral("\"")), "");
    EXPECT_EQ(lookupTaskVkCode(d2.document(), QStringLiteral("x\"y")), "");
    EXPECT_EQ(d2.code("'"), "34"); // the apostrophe key is expressible
    EXPECT_EQ(d2.code("a"), "");   // case-sensitive
}

TEST(DriverTemplatesLoading, LaterVersionReplacesAndBadTextIsIgnored) {
    DriverTemplates t;
    EXPECT_FALSE(t.loadDriverTemplateText("<Driver Version=\"D2.0\"><key"));
    EXPECT_FALSE(t.loadDriverTemplateText("<Driver Name=\"x\"/>"));
    EXPECT_FALSE(t.loadDriverTemplate(QStringLiteral(":/drive/none")));
    EXPECT_TRUE(t.versions().isEmpty());
    ASSERT_TRUE(t.loadDriverTemplateText(
        "<Driver Version=\"D2.0\"><key Task=\"A\" Code=\"01\"/></Driver>"));
    const pugi::xml_document *first = t.document(QStringLiteral("D2.0"));
    ASSERT_TRUE(t.loadDriverTemplateText(
        "<Driver Version=\"D2.0\"><key Task=\"A\" Code=\"02\"/></Driver>"));
    EXPECT_EQ(t.generation(QStringLiteral("D2.0")).code(QStringLiteral("A")), "02");
    // A document handed out earlier stays valid and unchanged.
    EXPECT_EQ(lookupTaskCode(*first, QStringLiteral("A")), "01");
}

TEST(DefineTable, KeyCodeTableForThePage) {
    initDriveResources();
    QFile f(QStringLiteral(":/drive/Define"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(text.constData(), size_t(text.size())));
    const pugi::xml_node root = doc.child("keyboard");
    EXPECT_STREQ(root.attribute("name").value(), "码值表");
    std::vector<pugi::xml_node> rows;
    for (pugi::xml_node r : root.children("key"))
        rows.push_back(r);
    ASSERT_EQ(rows.size(), 118u);
    const char *bits[] = {"1", "2", "4", "8", "10"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(rows[size_t(i)].attribute("hidCode").value(), bits[i]);
        EXPECT_STREQ(rows[size_t(i)].attribute("scanCode").value(), bits[i]);
        EXPECT_STREQ(rows[size_t(i)].attribute("flag").value(), "10");
    }
    EXPECT_STREQ(rows[5].attribute("value").value(), "120");
    EXPECT_STREQ(rows[6].attribute("value").value(), "-120");
    for (int i = 7; i < 10; ++i)
        EXPECT_STREQ(rows[size_t(i)].attribute("vkCode").value(), "-1");
    EXPECT_STREQ(rows[10].attribute("hidCode").value(), "04");
}

} // namespace
