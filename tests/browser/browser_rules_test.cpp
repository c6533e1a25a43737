// The browser host's decisions apart from the engine: the theme pack, the URL mapping, the
// window requests, zoom, downloads and the error page.
#include "browser/browser_rules.h"
#include "browser/frame_registry.h"
#include "browser/resource_mapping.h"
#include "browser/theme_pack.h"
#include "pack_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace torvanix;
using pack::PackEntry;
using pack::PackKey;

namespace {

QByteArray pngBytes(int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

const QString kVendor = QStringLiteral("http://www.torvanix.invalid");

} // namespace

TEST(ThemePack, RoundTripsEntriesWithEitherScrambleDirection) {
    const QVector<PackEntry> entries = {
        {"theme/Torvanix/bbs/index.html", "<html>index</html>"},
        {"C:/build/theme/img/logo.png", QByteArray("\x00\x01\xff\x80", 4)},
        {"theme/empty.txt", QByteArray()},
    };
    for (bool subtract : {true, false}) {
        for (int key : {0, 1, 0x5a, 255}) {
            const QByteArray bytes = pack::buildPack(entries, PackKey{quint8(key), subtract});
            ThemePack reader;
            ASSERT_TRUE(reader.LoadFromData(bytes, "theme")) << key << subtract;
            EXPECT_EQ(reader.Get("Torvanix/bbs/index.html"), QByteArray("<html>index</html>"));
            // The name follows the first "theme" plus one separator, whatever comes before.
            EXPECT_EQ(reader.Get("img/logo.png"), QByteArray("\x00\x01\xff\x80", 4));
            EXPECT_TRUE(reader.Get("empty.txt").isEmpty());
            EXPECT_TRUE(reader.Get("missing").isEmpty());
        }
    }
}

TEST(ThemePack, RejectsBadHeadersAndKeepsWhatATruncatedFileHolds) {
    QByteArray good = pack::buildPack({{"theme/a.html", "alpha"}, {"theme/b.html", "bravo!"}});
    ThemePack reader;

    QByteArray badMagic = good;
    badMagic[0] = 'X';
    EXPECT_FALSE(reader.LoadFromData(badMagic, "theme"));
    EXPECT_EQ(reader.size(), 0);

    QByteArray badVersion = good;
    badVersion[8] = '1';
    EXPECT_FALSE(reader.LoadFromData(badVersion, "theme"));

    QByteArray zeroCount = good;
    zeroCount[12] = zeroCount[13] = zeroCount[14] = zeroCount[15] = 0;
    EXPECT_FALSE(reader.LoadFromData(zeroCount, "theme"));

    QByteArray negative = good;
    negative[15] = char(0x80);
    EXPECT_FALSE(reader.LoadFromData(negative, "theme"));

    EXPECT_FALSE(reader.LoadFromData(good.left(10), "theme"));

    // The last entry runs past the end: only the bytes present, unscrambled.
    ASSERT_TRUE(reader.LoadFromData(good.left(good.size() - 3), "theme"));
    EXPECT_EQ(reader.Get("a.html"), QByteArray("alpha"));
    EXPECT_EQ(reader.Get("b.html"), QByteArray("bra"));

    // A directory claiming more records than the file holds does not read out of bounds.
    QByteArray overCount = good.left(ThemePack::kHeaderSize + ThemePack::kRecordSize);
    ASSERT_TRUE(reader.LoadFromData(overCount, "theme"));
    EXPECT_TRUE(reader.Get("a.html").isEmpty());

    EXPECT_FALSE(reader.Load("/nonexistent/theme.pak"));
    EXPECT_EQ(reader.size(), 0);
}

TEST(ThemePack, LaterRecordWithTheSameNameWinsAndFileNameGivesTheBase) {
    QTemporaryDir dir;
    const QByteArray bytes =
        pack::buildPack({{"skin/x.html", "first"}, {"other/skin/x.html", "second"}});
    QFile f(dir.filePath("skin.pak"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    ThemePack reader;
    ASSERT_TRUE(reader.Load(f.fileName()));
    EXPECT_EQ(reader.Get("x.html"), QByteArray("second"));
}

TEST(PackBuilder, CollectsAFolderAndRefusesPathsTooLongForARecord) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Torvanix/bbs");
    QFile f(dir.filePath("Torvanix/bbs/index.html"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    QString error;
    auto entries = pack::collectFolder(dir.path(), "theme", &error);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].storedPath, QString("theme/Torvanix/bbs/index.html"));

    EXPECT_TRUE(pack::buildPack({{QString(150, 'a'), "x"}}, PackKey(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(pack::buildPack({{QString(149, 'a'), "x"}}).isEmpty());
    EXPECT_TRUE(pack::buildPack({}).isEmpty());
}

class MappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programDir.isValid());
        const QVector<PackEntry> entries = {
            {"theme/Torvanix/bbs/index.html", "<p>index</p>"},
            {"theme/Torvanix/bbs/my/profile/index.html", "<p>profile</p>"},
            {"theme/Torvanix/bbs/_nuxt/app.js", "var app;"},
            {"theme/Torvanix/client.html", "<p>client</p>"},
            {"theme/img/logo.png", "pngdata"},
            {"theme/img/anim.gif", "gifdata"},
            {"theme/img/my logo.png", "spaced"},
            {"theme/css/site.css", "body{}"},
            {"theme/Torvanix/assets/client-1a2b.js", "export{};"},
            {"theme/Torvanix/assets/pad.svg", "<svg/>"},
            {"theme/Torvanix/assets/face.woff2", "wOF2"},
            {"theme/media/song.mp3", QByteArray(1234, 'm')},
        };
        ASSERT_TRUE(pack.LoadFromData(pack::buildPack(entries), "theme"));
        ResourceSettings s;
        s.vendorBase = kVendor;
        s.edition = "Torvanix";
        s.appFolder = programDir.path();
        s.themeRoot = programDir.path() + "/theme";
        s.portalUrl = "http://portal.torvanix.invalid/";
        mapper = std::make_unique<ResourceMapper>(s, &pack);
    }

    QTemporaryDir programDir;
    ThemePack pack;
    std::unique_ptr<ResourceMapper> mapper;
};

TEST_F(MappingTest, PagesAndRewrites) {
    auto root = mapper->map(kVendor + "/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->body, QByteArray("<p>index</p>"));
    EXPECT_EQ(root->mimeType, QByteArray("text/html"));

    auto profile = mapper->map(kVendor + "/my/profile/");
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->body, QByteArray("<p>profile</p>"));

    auto nuxt = mapper->map(kVendor + "/_nuxt/app.js?v=3");
    ASSERT_TRUE(nuxt);
    EXPECT_EQ(nuxt->body, QByteArray("var app;"));
    EXPECT_EQ(nuxt->mimeType, QByteArray("application/javascript"));

    auto start = mapper->map(mapper->startUrl());
    ASSERT_TRUE(start);
    EXPECT_EQ(start->body, QByteArray("<p>client</p>"));

    auto css = mapper->map(kVendor + "/local/css/site.css");
    ASSERT_TRUE(css);
    EXPECT_EQ(css->mimeType, QByteArray("text/css"));

    // Not under "local" after the rewrites: the network answers.
    EXPECT_FALSE(mapper->map(kVendor + "/api/list"));
    EXPECT_FALSE(mapper->map("http://example.com/index.html"));
    // A missing entry goes to the network too.
    EXPECT_FALSE(mapper->map(kVendor + "/local/nothing.html"));
}

TEST_F(MappingTest, PageAssetsKeepTheirOwnTypes) {
    // Module scripts are refused by the engine unless they come with a script type.
    auto module = mapper->map(kVendor + "/local/Torvanix/assets/client-1a2b.js");
    ASSERT_TRUE(module);
    EXPECT_EQ(module->mimeType, QByteArray("application/javascript"));
    auto svg = mapper->map(kVendor + "/local/Torvanix/assets/pad.svg");
    ASSERT_TRUE(svg);
    EXPECT_EQ(svg->mimeType, QByteArray("image/svg+xml"));
    auto font = mapper->map(kVendor + "/local/Torvanix/assets/face.woff2");
    ASSERT_TRUE(font);
    EXPECT_EQ(font->mimeType, QByteArray("font/woff2"));
    // The start page with the locale in its query is still the page.
    auto start = mapper->map(mapper->startUrl() + "?lang=zh-CN");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->mimeType, QByteArray("text/html"));
}

TEST_F(MappingTest, BranchIsChosenByTheLastFourCharactersOfTheWholeUrl) {
    // "?x=1" hides the extension: the page branch answers the entry as HTML.
    auto queried = mapper->map(kVendor + "/local/img/logo.png?x=1");
    ASSERT_TRUE(queried);
    EXPECT_EQ(queried->mimeType, QByteArray("text/html"));
    EXPECT_EQ(queried->body, QByteArray("pngdata"));

    auto gif = mapper->map(kVendor + "/local/img/anim.gif");
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->mimeType, QByteArray("image/png"));

    // Images are looked up percent-decoded, pages and scripts as written.
    auto spaced = mapper->map(kVendor + "/local/img/my%20logo.png");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->body, QByteArray("spaced"));

    auto mp3 = mapper->map(kVendor + "/local/media/song.mp3");
    ASSERT_TRUE(mp3);
    EXPECT_EQ(mp3->mimeType, QByteArray("audio/mpeg"));
    EXPECT_EQ(mp3->status, 200);
    ASSERT_EQ(mp3->headers.size(), 2);
    EXPECT_EQ(mp3->headers[0], qMakePair(QByteArray("accept-ranges"), QByteArray("bytes")));
    EXPECT_EQ(mp3->headers[1], qMakePair(QByteArray("Content-Length"), QByteArray("1234")));

    // Any host: whatever follows the prefix length is the entry path.
    auto foreign = mapper->map("http://other.example.org/x/local/Torvanix/client.html");
    EXPECT_FALSE(foreign); // "http://other.example.org/x/local/" is not the prefix length
    const QString samePrefixLength =
        QString("http://%1/local/").arg(QString(kVendor.size() - 7, 'q'));
    auto foreign2 = mapper->map(samePrefixLength + "Torvanix/client.html");
    ASSERT_TRUE(foreign2);
    EXPECT_EQ(foreign2->body, QByteArray("<p>client</p>"));
}

TEST_F(MappingTest, ScreenPicturesComeFromTheProgramFolderOnly) {
    const QByteArray png = pngBytes(4, 3, Qt::red);
    QFile f(programDir.filePath("screen_3.png"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(png);
    f.close();
    auto shot = mapper->map(kVendor + "/local/devices/TR300X/screen_3.png");
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->mimeType, QByteArray("image/png"));
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(shot->body, "PNG"));
    EXPECT_EQ(decoded.size(), QSize(4, 3));

    EXPECT_FALSE(mapper->map(kVendor + "/local/devices/TR300X/screen_9.png"));

    // An encoded "../" must not reach a picture outside the program folder.
    QTemporaryDir outside;
    QFile secret(outside.filePath("screen_secret.png"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write(png);
    secret.close();
    const QString rel = QDir(programDir.path()).relativeFilePath(secret.fileName());
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(rel));
    EXPECT_FALSE(mapper->map(kVendor + "/local/" + encoded));
}

// An installed program writes the pictures the page stores or picks to the user's data
// folder; the page asks for them back as ../screen/NAME from its own address.
TEST_F(MappingTest, ScreenPicturesAreServedFromTheDataFolderTheyAreWrittenTo) {
    QTemporaryDir data;
    ResourceSettings s = mapper->settings();
    s.dataFolder = data.path();
    ResourceMapper installed(s, &pack);
    QDir(data.path()).mkpath("screen");
    QFile picked(data.filePath("screen/screen_5.png"));
    ASSERT_TRUE(picked.open(QIODevice::WriteOnly));
    picked.write(pngBytes(2, 2, Qt::blue));
    picked.close();
    auto shot = installed.map(kVendor + "/local/screen/screen_5.png");
    ASSERT_TRUE(shot);
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(shot->body, "PNG"));
    EXPECT_EQ(decoded.size(), QSize(2, 2));
    // A picture shipped beside the program is still found there.
    QFile shipped(programDir.filePath("screen_3.png"));
    ASSERT_TRUE(shipped.open(QIODevice::WriteOnly));
    shipped.write(pngBytes(4, 3, Qt::red));
    shipped.close();
    EXPECT_TRUE(installed.map(kVendor + "/local/devices/TR300X/screen_3.png"));
    EXPECT_FALSE(installed.map(kVendor + "/local/screen/screen_9.png"));
}

TEST_F(MappingTest, FontsAndLivePagesAreRedirectedButNeverToThemselves) {
    const QString icon = kVendor + "/frontend/web/css/element-icons.woff";
    EXPECT_EQ(mapper->redirectFor(kVendor + "/local/fonts/a.ttf").value_or(""), icon);
    EXPECT_EQ(mapper->redirectFor("http://cdn.example.com/f.woff2").value_or(""), icon);
    EXPECT_FALSE(mapper->redirectFor(icon));
    EXPECT_EQ(mapper->redirectFor(kVendor + "/local/live.html").value_or(""),
              QString("http://portal.torvanix.invalid/"));
    EXPECT_FALSE(mapper->redirectFor(kVendor + "/local/Torvanix/client.html"));
}

TEST(WindowRequests, MoveWindowNeedsExactlyFourIntegers) {
    EXPECT_EQ(parseMoveWindow("MoveWindow:10,-5,0,0").value_or(QPoint(99, 99)), QPoint(10, -5));
    EXPECT_EQ(parseMoveWindow("MoveWindow 1,2,3,4").value_or(QPoint()), QPoint(1, 2));
    EXPECT_FALSE(parseMoveWindow("MoveWindow:10,-5"));
    EXPECT_FALSE(parseMoveWindow("MoveWindow"));
    EXPECT_FALSE(parseMoveWindow("MoveWindow:1,2,3,4,5"));
    EXPECT_FALSE(parseMoveWindow("MoveWindow:1,x,3,4"));
    EXPECT_TRUE(isMoveWindowRequest("MoveWindow:1,2"));
    EXPECT_FALSE(isMoveWindowRequest(" MoveWindow:1,2,3,4"));
    EXPECT_FALSE(isMoveWindowRequest("{\"FuncName\":\"MoveWindow\"}"));

    EXPECT_TRUE(isMinimiseRequest("{\"FuncName\":\"MinisizeWindow\"}"));
    EXPECT_FALSE(isMinimiseRequest("{\"FuncName\": \"MinisizeWindow\"}"));
    EXPECT_FALSE(isMinimiseRequest("{\"FuncName\":\"MinisizeWindow\",\"a\":1}"));
}

TEST(ScreenRules, DpiStepsAndZoomForSmallOrDenseScreens) {
    EXPECT_EQ(dpiScaleFor(96), 1.0);
    EXPECT_EQ(dpiScaleFor(120), 1.25);
    EXPECT_EQ(dpiScaleFor(144), 1.5);
    EXPECT_EQ(dpiScaleFor(168), 1.75);
    EXPECT_EQ(dpiScaleFor(192), 2.0);

    auto small = zoomLevelFor(768 / 1080.0, 1.0, 0);
    ASSERT_TRUE(small);
    EXPECT_NEAR(*small, -0.71111, 1e-4);
    EXPECT_EQ(zoomLevelFor(1.0, 1.5, 0).value_or(0), -1.5);
    EXPECT_FALSE(zoomLevelFor(1.0, 1.0, 0));
    EXPECT_FALSE(zoomLevelFor(1440 / 1080.0, 1.5, 0));
    EXPECT_FALSE(zoomLevelFor(768 / 1080.0, 1.0, -1.0));
    EXPECT_NEAR(zoomLevelForFactor(zoomFactorForLevel(-1.5)), -1.5, 1e-9);
    EXPECT_NEAR(zoomFactorForLevel(1), 1.2, 1e-12);
}

TEST(Downloads, MacrosAndArchivesAskOthersGoToTheUpdateFolder) {
    EXPECT_TRUE(downloadTarget("profile.zip", "/opt/tvx").isEmpty());
    EXPECT_TRUE(downloadTarget("my.macro", "/opt/tvx").isEmpty());
    EXPECT_TRUE(downloadTarget("pack.rar", "/opt/tvx").isEmpty());
    EXPECT_EQ(downloadTarget("fw.bin", "/opt/tvx"), QString("/opt/tvx/update/fw.bin"));
    // A name from the server cannot leave the update folder.
    EXPECT_EQ(downloadTarget("../../etc/passwd", "/opt/tvx"), QString("/opt/tvx/update/passwd"));
    EXPECT_EQ(downloadTarget("..\\..\\x.bin", "/opt/tvx"), QString("/opt/tvx/update/x.bin"));
    EXPECT_EQ(downloadTarget("..", "/opt/tvx"), QString("/opt/tvx/update/download"));
}

TEST(Downloads, OnlyTheVendorOriginMayFillTheUpdateFolder) {
    const QString vendor = "http://vendor.example";
    EXPECT_TRUE(fromVendorOrigin(QUrl("http://vendor.example/fw/1.bin"), vendor));
    EXPECT_TRUE(fromVendorOrigin(QUrl("http://VENDOR.example:80/x"), vendor));
    EXPECT_TRUE(fromVendorOrigin(QUrl("blob:http://vendor.example/5e1b"), vendor));
    EXPECT_FALSE(fromVendorOrigin(QUrl("https://vendor.example/x"), vendor));
    EXPECT_FALSE(fromVendorOrigin(QUrl("http://vendor.example:8080/x"), vendor));
    EXPECT_FALSE(fromVendorOrigin(QUrl("http://vendor.example.evil.test/x"), vendor));
    EXPECT_FALSE(fromVendorOrigin(QUrl("http://evil.test/libUsbInterface.so"), vendor));
    EXPECT_FALSE(fromVendorOrigin(QUrl("blob:http://evil.test/5e1b"), vendor));
    const QUrl data("data:application/octet-stream;base64,AA==");
    EXPECT_FALSE(fromVendorOrigin(data, vendor));
    EXPECT_TRUE(fromVendorOrigin(data, vendor, QUrl("http://vendor.example/local/x.html")));
    EXPECT_FALSE(fromVendorOrigin(data, vendor, QUrl("http://evil.test/pop-up.html")));
    EXPECT_FALSE(fromVendorOrigin(QUrl("file:///etc/passwd"), vendor));
}

TEST(Upstream, OnlyAPlainHttpServerReplacesTheVendorEndpoint) {
    const QString vendor = "http://vendor.example";
    EXPECT_EQ(upstreamEndpoint(vendor, ""), vendor);
    EXPECT_EQ(upstreamEndpoint(vendor, "http://127.0.0.1:8123"), "http://127.0.0.1:8123");
    EXPECT_EQ(upstreamEndpoint(vendor, "http://mirror.example/"), "http://mirror.example");
#ifdef TORVANIX_HTTPS_UPSTREAM
    EXPECT_EQ(upstreamEndpoint(vendor, "https://mirror.example:8443/"),
              "https://mirror.example:8443");
#endif
    for (const char *bad :
         {"https://mirror.example/sub", "http://mirror.example/sub", "ftp://m.example",
          "http://user:pw@mirror.example", "http://m.example/?a=1", "mirror", "http://"})
        EXPECT_EQ(upstreamEndpoint(vendor, bad), vendor) << bad;
}

TEST(ErrorPage, TextAndDataUrl) {
    const QString page = errorPageHtml("http://x.invalid/", "ERR_NAME_NOT_RESOLVED", -105);
    EXPECT_EQ(page, QString("<html><body bgcolor=\"white\"><h2>Failed to load URL "
                            "http://x.invalid/ with error ERR_NAME_NOT_RESOLVED (-105)."
                            "</h2></body></html>"));
    const QString uri = dataUri("a b+c", "text/html");
    EXPECT_TRUE(uri.startsWith("data:text/html;base64,"));
    EXPECT_FALSE(uri.contains('+'));
    EXPECT_EQ(QByteArray::fromBase64(QUrl::fromPercentEncoding(uri.mid(22).toLatin1()).toLatin1()),
              QByteArray("a b+c"));
    EXPECT_EQ(netErrorCode("ERR_ABORTED"), kAbortedLoad);
    EXPECT_EQ(netErrorCode("ERR_CONNECTION_REFUSED"), -102);
    EXPECT_EQ(netErrorCode("ERR_SOMETHING_NEW"), -2);
}

TEST(FrameRegistry, FirstFrameForAUrlStaysUntilRenavigationOrClose) {
    FrameRegistry r;
    r.frameLoaded({1, ""}, "http://h/local/a.html");
    r.frameLoaded({1, "0"}, "http://h/local/f.html");
    r.frameLoaded({2, ""}, "http://h/local/a.html"); // same URL: not recorded
    auto t = r.targets();
    ASSERT_EQ(t.size(), 1);
    EXPECT_EQ(t.value(1), QStringList({"", "0"}));

    // Page 2 shows a.html too, but the entry belongs to page 1 until someone navigates there.
    r.beforeNavigate("http://h/local/a.html");
    r.frameLoaded({2, ""}, "http://h/local/a.html");
    EXPECT_EQ(r.targets().value(2), QStringList({""}));
    EXPECT_FALSE(r.targets().contains(1) && r.targets().value(1).contains(""));

    EXPECT_EQ(r.targets("quick_set.html").size(), 0);
    r.frameLoaded({3, ""}, "http://h/local/quick_set.html");
    EXPECT_EQ(r.targets("quick_set.html").keys(), QList<quint64>({3}));

    // Closing removes only the main frame's entry.
    r.pageClosed(1, "http://h/local/a.html");
    r.pageClosed(2, "http://h/local/a.html");
    EXPECT_EQ(r.entries().size(), 2);
    // A navigation to a URL no registered frame shows changes nothing.
    r.beforeNavigate("http://h/local/f.html");
    EXPECT_EQ(r.entries().size(), 2);
    // The closed page's sub-frame entry does not keep a live frame from being recorded.
    r.frameLoaded({4, "0"}, "http://h/local/f.html");
    EXPECT_EQ(r.targets().value(4), QStringList({"0"}));
    EXPECT_FALSE(r.targets().contains(1));
}
