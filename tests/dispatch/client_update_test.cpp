#include "byte_order.h"
#include "device/client_update.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <lzma.h>
#include <sodium.h>
#include <sys/stat.h>

using namespace torvanix;
using namespace torvanix::client_update;

namespace {

// The tests' own signing key; the program trusts only the release key.
const QByteArray kSeed = QByteArray("client update test signing key!!");
QByteArray testKey() {
    return publicKeyForSeed(kSeed);
}
int unpack(const QString &package, const QString &folder,
           const QString &running = QStringLiteral("1.2.3")) {
    return runClientUpdate(package, folder, testKey(), running);
}

QByteArray package(const QList<Entry> &entries, const QByteArray &seed = kSeed,
                   const QString &label = QStringLiteral("1.2.3")) {
    Content content;
    content.label = label;
    content.entries = entries;
    return encodePackage(encodeContent(content), seed);
}

// The signature block over bytes 148.. of a package tail, as a packer appends it.
QByteArray signatureBlock(const QByteArray &tail, const QByteArray &seed) {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    unsigned char sig[crypto_sign_BYTES];
    EXPECT_GE(sodium_init(), 0);
    crypto_sign_seed_keypair(pk, sk, reinterpret_cast<const unsigned char *>(seed.constData()));
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char *>(tail.constData()),
                         static_cast<unsigned long long>(tail.size()), sk);
    return QByteArray("TVXSIGN1") + QByteArray(reinterpret_cast<const char *>(sig), 64);
}

QString writePackage(const QTemporaryDir &dir, const QByteArray &bytes) {
    const QString path = dir.path() + "/client.pkg";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Puts a fresh digest over a package whose tail was altered.
QByteArray resign(QByteArray bytes) {
    bytes.replace(128, 20, QCryptographicHash::hash(bytes.mid(148), QCryptographicHash::Sha1));
    return bytes;
}

} // namespace

TEST(ClientUpdate, PackageRoundTripWritesEntriesBelowTheUpdateFolder) {
    QTemporaryDir dir;
    QByteArray big(300000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7) ^ (i >> 5));
    const QString pkg = writePackage(dir, package({{"pkg/bin/app.dll", "binary"},
                                                   {"pkg/share/data/big.bin", big},
                                                   {"pkg/readme", ""}}));
    const QString update = dir.path() + "/prog/update"; // missing: created first
    EXPECT_EQ(unpack(pkg, update), 1);
    EXPECT_EQ(readAll(update + "/bin/app.dll"), QByteArray("binary"));
    EXPECT_EQ(readAll(update + "/share/data/big.bin"), big);
    EXPECT_TRUE(QFileInfo(update + "/readme").isFile());
    EXPECT_TRUE(QFile::exists(pkg)) << "the package file stays";
    // Running it again replaces the content.
    EXPECT_EQ(unpack(pkg, update), 1);
    // An empty package succeeds.
    const QString empty = writePackage(dir, package({}));
    EXPECT_EQ(unpack(empty, dir.path() + "/other"), 1);
}

// A package put together byte by byte, compressed by a plain LZMA1 encoder without end
// marker, as an outside packer would write it.
TEST(ClientUpdate, HandBuiltPackageWithoutEndMarkerUnpacks) {
    const QByteArray content = QByteArray::fromHex("0000000a"             // label: 10 bytes
                                                   "0031002e0032002e0033" // "1.2.3"
                                                   "00000001"             // one entry
                                                   "0000000a"             // path: 10 bytes UTF-16
                                                   "0070002f0062002f0078" // "p/b/x"
                                                   "00000002"             // byte count
                                                   "00000002") +          // bytes
                               QByteArray("hi");
    lzma_options_lzma options;
    ASSERT_FALSE(lzma_lzma_preset(&options, 1));
    options.ext_flags = 0;
    options.ext_size_low = static_cast<uint32_t>(content.size());
    options.ext_size_high = 0;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t props[5];
    ASSERT_EQ(lzma_properties_encode(filters, props), LZMA_OK);
    lzma_stream strm = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_raw_encoder(&strm, filters), LZMA_OK);
    QByteArray raw(4096, '\0');
    strm.next_in = reinterpret_cast<const uint8_t *>(content.constData());
    strm.avail_in = static_cast<size_t>(content.size());
    strm.next_out = reinterpret_cast<uint8_t *>(raw.data());
    strm.avail_out = static_cast<size_t>(raw.size());
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK)
        ret = lzma_code(&strm, LZMA_FINISH);
    ASSERT_EQ(ret, LZMA_STREAM_END);
    raw.truncate(raw.size() - static_cast<int>(strm.avail_out));
    lzma_end(&strm);

    QByteArray tail(reinterpret_cast<const char *>(props), 5);
    QByteArray size(4, '\0');
    torvanix::test::storeLE<quint32>(size, 0, static_cast<quint32>(content.size()));
    tail += size + raw;
    tail += signatureBlock(tail, kSeed);
    const QByteArray file =
        QByteArray(128, '\x5a') + QCryptographicHash::hash(tail, QCryptographicHash::Sha1) + tail;
    ASSERT_EQ(file.mid(148, 5), tail.left(5));

    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    EXPECT_EQ(unpack(writePackage(dir, file), update), 1);
    EXPECT_EQ(readAll(update + "/b/x"), QByteArray("hi"));
}

TEST(ClientUpdate, BadPackagesWriteNothing) {
    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    const QByteArray good = package({{"pkg/a", "x"}});

    QByteArray digest = good;
    digest[130] = static_cast<char>(digest[130] ^ 1);
    QByteArray content = good;
    content[content.size() - 1] = static_cast<char>(content[content.size() - 1] ^ 0x55);
    QByteArray bigSize = good;
    torvanix::test::storeLE<quint32>(bigSize, 153, 0xFFFFFFF0u);
    QByteArray hugeDictionary = good;
    torvanix::test::storeLE<quint32>(hugeDictionary, 149, 0xFFFFFFFFu);
    QByteArray shortSize = good;
    torvanix::test::storeLE<quint32>(shortSize, 153, 3);

    const int block = SignatureBlockSize;
    QByteArray flipped = good;
    flipped[flipped.size() - 1] = static_cast<char>(flipped[flipped.size() - 1] ^ 1);
    const QList<QPair<const char *, QByteArray>> cases = {
        {"digest mismatch", digest},
        {"unsigned", resign(good.left(good.size() - block))},
        {"signature altered", resign(flipped)},
        {"signed by another key", package({{"pkg/a", "x"}}, QByteArray(32, 'k'))},
        {"signature of other bytes",
         resign(good.left(good.size() - block) + package({{"pkg/b", "y"}}).right(block))},
        {"157 bytes", good.left(157)},
        {"empty", QByteArray()},
        {"corrupt data", resign(content)},
        {"oversized content", resign(bigSize)},
        {"hostile dictionary", resign(hugeDictionary)},
        {"short content", resign(shortSize)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(unpack(writePackage(dir, c.second), update), 0) << c.first;
        EXPECT_TRUE(QDir(update).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
            << c.first;
    }
    EXPECT_EQ(unpack(dir.path() + "/missing.pkg", update), 0);
    // A path to an endless device is refused after a bounded read.
    if (QFileInfo::exists("/dev/zero")) {
        EXPECT_EQ(unpack("/dev/zero", update), 0);
    }
}

TEST(ClientUpdate, EntriesThatWouldLeaveTheFolderAreRefused) {
    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    for (const char *path : {"pkg/../../evil", "/etc/evil", "pkg/a/../../evil", "pkg//evil",
                             "pkg/./evil", "pkg\\..\\evil", "readme.txt", "pkg/"}) {
        // A good entry before the bad one is not written either.
        const QString pkg = writePackage(dir, package({{"pkg/good", "1"}, {path, "x"}}));
        EXPECT_EQ(unpack(pkg, update), 0) << path;
        EXPECT_FALSE(QFile::exists(update + "/good")) << path;
    }
    EXPECT_FALSE(QFile::exists(dir.path() + "/evil"));
    EXPECT_EQ(safeRelativePath("pkg/bin/app.dll"), "bin/app.dll");

    // A link inside the update folder goes with the rest of the folder; it carries no write
    // outside and what it pointed to stays.
    QDir().mkpath(update);
    QDir().mkpath(dir.path() + "/outside");
    QFile(dir.path() + "/outside/keep").open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(dir.path() + "/outside", update + "/bin"));
    const QString pkg = writePackage(dir, package({{"pkg/bin/app", "x"}}));
    EXPECT_EQ(unpack(pkg, update), 1);
    EXPECT_FALSE(QFile::exists(dir.path() + "/outside/app"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/outside/keep"));
    EXPECT_FALSE(QFileInfo(update + "/bin").isSymLink());
}

// Only what the package holds reaches the updater: the folder is emptied first, every entry
// is listed with its digest, and a refused package leaves no list at all.
TEST(ClientUpdate, TheManifestListsExactlyThePackageAndLeftoversAreGone) {
    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    QDir().mkpath(update + "/old");
    for (const QString &stray : {update + "/libUsbInterface.so", update + "/old/half.tmp"}) {
        QFile f(stray);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("planted");
    }
    // The package itself may lie in the folder it is unpacked into.
    QFile in(update + "/client.pkg");
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(package({{"pkg/bin/app", "new app"}, {"pkg/theme.pak", "pack"}}));
    in.close();
    ASSERT_EQ(unpack(update + "/client.pkg", update), 1);
    EXPECT_EQ(QDir(update).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              (QStringList{"bin", "theme.pak"}));
    QFile listFile(manifestPath(update));
    ASSERT_EQ(manifestPath(update), dir.path() + "/update.manifest");
    ASSERT_TRUE(listFile.open(QIODevice::ReadOnly));
    const QJsonArray files =
        QJsonDocument::fromJson(listFile.readAll()).object()["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject()["path"], "bin/app");
    EXPECT_EQ(files[0].toObject()["size"], 7);
    EXPECT_EQ(files[0].toObject()["sha256"].toString().toLatin1(),
              QCryptographicHash::hash("new app", QCryptographicHash::Sha256).toHex());

    // A refused package leaves the earlier unpack alone and writes no list for itself; a
    // failed one (entry colliding with a folder) leaves nothing and no list.
    QByteArray bad = package({{"pkg/x", "x"}});
    bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 1);
    EXPECT_EQ(unpack(writePackage(dir, resign(bad)), update), 0);
    EXPECT_TRUE(QFile::exists(manifestPath(update)));
    EXPECT_EQ(unpack(writePackage(dir, package({{"pkg/a", "1"}, {"pkg/a/b", "2"}})), update), 0);
    EXPECT_FALSE(QFile::exists(manifestPath(update)));
    EXPECT_TRUE(QDir(update).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(ClientUpdate, ContentOverTheCapIsRefusedBeforeItIsUnpacked) {
    QTemporaryDir dir;
    // 80 MiB of zeros compress to a few kilobytes.
    const QString pkg =
        writePackage(dir, package({{"pkg/zeros", QByteArray(80 * 1024 * 1024, '\0')}}));
    EXPECT_LT(QFileInfo(pkg).size(), 1024 * 1024);
    QByteArray content;
    QString why;
    QFile f(pkg);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_FALSE(decodePackage(f.readAll(), testKey(), &content, &why));
    EXPECT_TRUE(why.contains("over the limit")) << why.toStdString();
    EXPECT_EQ(unpack(pkg, dir.path() + "/update"), 0);
}

TEST(ClientUpdate, EveryTruncationOfAContentStreamIsRefusedCleanly) {
    Content content;
    content.entries = {{"pkg/a", "alpha"}, {"pkg/b/c", QByteArray(100, 'b')}};
    const QByteArray bytes = encodeContent(content);
    Content parsed;
    ASSERT_TRUE(parseContent(bytes, &parsed));
    ASSERT_EQ(parsed.entries.size(), 2);
    EXPECT_EQ(parsed.entries.at(1).data, QByteArray(100, 'b'));
    for (int n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(parseContent(bytes.left(n), &parsed)) << n;
    // A byte count that disagrees with the bytes.
    QByteArray lying = bytes;
    const int at = lying.indexOf(QByteArray::fromHex("00000005"));
    ASSERT_GT(at, 0);
    lying[at + 3] = 6;
    EXPECT_FALSE(parseContent(lying, &parsed));
}

TEST(ClientUpdate, ProgramFilesAreUnpackedExecutableAsTheSignedContentSays) {
    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    ASSERT_EQ(unpack(writePackage(
                         dir, package({{"pkg/bin/app", "#!/bin/sh\n", true}, {"pkg/data", "d"}})),
                     update),
              1);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(update + "/bin/app").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_FALSE(QFileInfo(update + "/data").isExecutable());
    QFile listFile(manifestPath(update));
    ASSERT_TRUE(listFile.open(QIODevice::ReadOnly));
    const QJsonArray files =
        QJsonDocument::fromJson(listFile.readAll()).object()["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject()["executable"], true);
    EXPECT_EQ(files[1].toObject()["executable"], false);

    // The marks follow the entries; a content without them (an older packer) has no program
    // files, and anything else after the entries is refused.
    Content content;
    content.entries = {{"pkg/a", "x", true}, {"pkg/b", "y"}};
    const QByteArray marked = encodeContent(content);
    content.entries[0].executable = false;
    const QByteArray plain = encodeContent(content);
    ASSERT_TRUE(marked.startsWith(plain));
    Content parsed;
    ASSERT_TRUE(parseContent(marked, &parsed));
    EXPECT_TRUE(parsed.entries.at(0).executable);
    EXPECT_FALSE(parsed.entries.at(1).executable);
    ASSERT_TRUE(parseContent(plain, &parsed));
    EXPECT_FALSE(parsed.entries.at(0).executable);
    QByteArray unknownBit = marked;
    unknownBit[unknownBit.size() - 1] = 2;
    QByteArray otherTag = marked;
    otherTag[otherTag.indexOf("TVXATTR1") + 7] = '2';
    for (const QByteArray &bad :
         {plain + "x", marked + "x", unknownBit, otherTag, marked.left(marked.size() - 1)})
        EXPECT_FALSE(parseContent(bad, &parsed));
}

TEST(ClientUpdate, ALinkedUpdateFolderIsRefusedAndWhatItPointsToStays) {
    QTemporaryDir dir;
    const QString documents = dir.path() + "/documents";
    QDir().mkpath(documents);
    QFile own(documents + "/own.txt");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("the user's");
    own.close();
    const QString update = dir.path() + "/update";
    ASSERT_TRUE(QFile::link(documents, update));
    EXPECT_EQ(unpack(writePackage(dir, package({{"pkg/a", "x"}})), update), 0);
    EXPECT_EQ(readAll(documents + "/own.txt"), QByteArray("the user's"));
    EXPECT_FALSE(QFile::exists(documents + "/a"));
    EXPECT_FALSE(QFile::exists(manifestPath(update)));
}

TEST(ClientUpdate, APackageOlderThanTheRunningVersionIsRefused) {
    EXPECT_EQ(compareVersions("1.4", "1.4.0"), 0);
    EXPECT_GT(compareVersions("1.10", "1.9"), 0);
    EXPECT_LT(compareVersions("2.0.0", "10.0"), 0);
    EXPECT_GT(compareVersions("1.2.3.1", "1.2.3"), 0);
    for (const char *text :
         {"", "1.", ".1", "1..2", "v1.2", "1.2.3.4.5", "1.-2", "1. 2", "1234567890", "nightly"})
        EXPECT_FALSE(isVersion(QString::fromUtf8(text))) << text;
    EXPECT_FALSE(isVersion(QStringLiteral("\u0661.\u0662"))) << "digits of another script";
    EXPECT_TRUE(isVersion(programVersion()));

    QTemporaryDir dir;
    const QString update = dir.path() + "/update";
    for (const char *label : {"1.2.2", "1.1.9.9", "", "nightly"}) {
        const QString pkg = writePackage(dir, package({{"pkg/a", "x"}}, kSeed, label));
        EXPECT_EQ(unpack(pkg, update, "1.2.3"), 0) << label;
        EXPECT_FALSE(QFile::exists(update + "/a")) << label;
    }
    for (const char *label : {"1.2.3", "1.2.3.0", "1.10"})
        EXPECT_EQ(
            unpack(writePackage(dir, package({{"pkg/a", "x"}}, kSeed, label)), update, "1.2.3"), 1)
            << label;
}
