#include "sim_fixture.h"

#include <QDir>
#include <cstring>

using namespace simtest;

namespace {

QJsonObject device(const QString &path) {
    QJsonObject o;
    o.insert(QStringLiteral("path"), path);
    return o;
}

} // namespace

class Listing : public SimFixture {};

TEST_F(Listing, DescriptionBlockIsByteExact) {
    QJsonObject full = device(hidPath(QStringLiteral("vid_258a&pid_0013&mi_01&col02")));
    full.insert(QStringLiteral("bluetooth"), QStringLiteral("1.02"));
    full.insert(QStringLiteral("firmware"), QStringLiteral("QPA-RTE-V1.1.0.12")); // fills all 17
    full.insert(QStringLiteral("serial"), QStringLiteral("SN123"));
    full.insert(QStringLiteral("battery"), 255);
    full.insert(QStringLiteral("status"), 2);
    QJsonObject bare = device(hidPath(QStringLiteral("vid_0c45&pid_8075&mi_00")));
    useDevices(QJsonArray{full, bare});

    std::vector<uint8_t> block(TVX_LIST_BLOCK_SIZE, 0xCC); // garbage the library must clear
    ASSERT_EQ(usb.devices(block.data(), nullptr), 2);
    EXPECT_EQ(block[0], 2);
    EXPECT_EQ(block[1], 0);

    const uint8_t *d = block.data() + 2;
    EXPECT_EQ(std::memcmp(d + TVX_DESC_BLUETOOTH, "1.02\0", 5), 0);
    EXPECT_EQ(std::memcmp(d + TVX_DESC_FIRMWARE, "QPA-RTE-V1.1.0.12", 17), 0);
    EXPECT_EQ(std::memcmp(d + TVX_DESC_SERIAL, "SN123\0\0\0\0\0\0\0\0\0", 14), 0);
    EXPECT_EQ(d[TVX_DESC_BATTERY], 255);
    EXPECT_EQ(d[TVX_DESC_STATUS], 2);
    for (int i : {5, 39, 71, 72, 75, 1086})
        EXPECT_EQ(d[i], 0) << "unread byte " << i;
    const QString path = full.value(QStringLiteral("path")).toString();
    for (int u = 0; u < path.size(); ++u) {
        EXPECT_EQ(d[TVX_DESC_PATH + 2 * u], path.at(u).unicode() & 0xFF);
        EXPECT_EQ(d[TVX_DESC_PATH + 2 * u + 1], path.at(u).unicode() >> 8);
    }
    EXPECT_EQ(d[TVX_DESC_PATH + 2 * path.size()], 0);
    EXPECT_EQ(d[TVX_DESC_PATH + 2 * path.size() + 1], 0);

    const uint8_t *e = d + TVX_DESCRIPTION_SIZE;
    EXPECT_EQ(e[TVX_DESC_FIRMWARE], 0);
    EXPECT_EQ(e[TVX_DESC_BATTERY], 0);
    EXPECT_EQ(e[TVX_DESC_PATH], '\\');
    // Nothing after the last entry.
    EXPECT_EQ(block[2 + 2 * TVX_DESCRIPTION_SIZE], 0);
    EXPECT_EQ(block[TVX_LIST_BLOCK_SIZE - 1], 0);
}

TEST_F(Listing, OrderCapFilterAndHotPlug) {
    QJsonArray many;
    for (int i = 0; i < 130; ++i)
        many.append(device(hidPath(QStringLiteral("vid_1956&pid_3010&mi_01&col02"),
                                   QStringLiteral("7&%1&0&1").arg(i))));
    useDevices(many);
    const QStringList all = listed();
    ASSERT_EQ(all.size(), 127);
    EXPECT_TRUE(all.first().contains(QStringLiteral("#7&0&0&1#")));
    EXPECT_TRUE(all.last().contains(QStringLiteral("#7&126&0&1#")));

    // Interfaces that declare their usage are listed only for a matching filter pair.
    QJsonObject vendor = device(hidPath(QStringLiteral("vid_258a&pid_0013&mi_01&col02")));
    vendor.insert(QStringLiteral("usage"), 1);
    vendor.insert(QStringLiteral("usagePage"), 0xFFA0);
    QJsonObject other = device(hidPath(QStringLiteral("vid_258a&pid_0013&mi_00&col01")));
    other.insert(QStringLiteral("usage"), 6);
    other.insert(QStringLiteral("usagePage"), 1);
    QJsonObject undeclared = device(hidPath(QStringLiteral("vid_0c45&pid_8075&mi_00")));
    useDevices(QJsonArray{vendor, other, undeclared});
    uint16_t filter[2 * TVX_FILTER_PAIRS] = {0x0001, 0xFFA0, 0x0001, 0xFFAA};
    EXPECT_EQ(listed(filter).size(), 2);
    EXPECT_EQ(listed(nullptr).size(), 3);

    // Rewriting the device set is a plug or unplug: the next listing follows it.
    useDevices(QJsonArray{undeclared});
    EXPECT_EQ(listed(), QStringList{undeclared.value(QStringLiteral("path")).toString()});
}

TEST_F(Listing, DemoSetIsFoundBesideTheLibraryWhateverTheWorkingFolder) {
    qunsetenv("TORVANIX_SIM_DEVICES");
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QStringList paths = listed();
    QDir::setCurrent(before);

    ASSERT_GE(paths.size(), 12);
    auto indexOf = [&](const char *part) {
        for (int i = 0; i < paths.size(); ++i)
            if (paths[i].contains(QLatin1String(part)))
                return i;
        return -1;
    };
    for (const char *part :
         {"vid_05ac&pid_024f&mi_01", "vid_258a&pid_002e&mi_01", "vid_0c45&pid_8075&mi_00",
          "vid_1956&pid_3010&mi_01&col01", "vid_258a&pid_0015", "vid_248a&pid_2001"})
        EXPECT_GE(indexOf(part), 0) << part;
    // The auxiliary interface must come after the device that suppresses it.
    EXPECT_GT(indexOf("vid_248a&pid_2002&mi_00&col03"), indexOf("vid_258a&pid_0013"));

    std::vector<uint8_t> block(TVX_LIST_BLOCK_SIZE, 0);
    const int n = usb.devices(block.data(), nullptr);
    QStringList identities;
    for (int i = 0; i < n; ++i)
        identities << QString::fromLatin1(reinterpret_cast<const char *>(block.data() + 2 +
                                                                         i * TVX_DESCRIPTION_SIZE +
                                                                         TVX_DESC_FIRMWARE),
                                          14);
    for (const char *id :
         {"TOB-NIR-V1.2.0", "QPA-RTE-V1.1.0", "HJE-XAV-V1.2.0", "HJE-XUB-V1.5.0", "WSU-DFO-V1.1.0"})
        EXPECT_TRUE(identities.contains(QLatin1String(id))) << id;
}

TEST_F(Listing, MissingOrBrokenDeviceSetListsNothing) {
    qputenv("TORVANIX_SIM_DEVICES", dir.filePath(QStringLiteral("absent.json")).toLocal8Bit());
    EXPECT_TRUE(listed().isEmpty());

    QFile f(dir.filePath(QStringLiteral("broken.json")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[{\"path\": ");
    f.close();
    qputenv("TORVANIX_SIM_DEVICES", f.fileName().toLocal8Bit());
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(usb.devices(nullptr, nullptr), 0);
}
