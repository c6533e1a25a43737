// Loads the simulated device libraries from the program folder, as the program does, and
// points them at a device set, state file and trace file of the test's own.
#pragma once

#include "torvanix/devlib.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QVector>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace simtest {

inline void *openLibrary(const char *file) {
    const std::string path = std::string(TORVANIX_PROGRAM_DIR) + "/" + file;
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(h, nullptr) << dlerror();
    return h;
}

template <typename F> F entry(void *lib, const char *name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

// UTF-16 path text with its terminator, as the program hands it over.
inline std::vector<uint16_t> wide(const QString &text) {
    std::vector<uint16_t> out(text.utf16(), text.utf16() + text.size());
    out.push_back(0);
    return out;
}

inline QString hidPath(const QString &body, const QString &instance = QStringLiteral("7&1&0&1")) {
    return QStringLiteral("\\\\?\\hid#") + body + QLatin1Char('#') + instance +
           QStringLiteral("#{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

struct Usb {
    void *lib = nullptr;
    tvx_dcDevices_fn devices = nullptr;
    tvx_rw_fn writeProperty = nullptr, writePropertyQpa = nullptr, readProperty = nullptr,
              writeHfd = nullptr, writeStartTr = nullptr, readHfd = nullptr;
    tvx_Reset_fn reset = nullptr;
    tvx_dcNotifyDevice_fn notify = nullptr;
    tvx_dcDeviceExist_fn exist = nullptr;
    tvx_UpdateVersion_fn updateVersion = nullptr;
    tvx_path_fn eraseRom = nullptr, finishRom = nullptr, bootLoader = nullptr;
    tvx_dcWriteRom_fn writeRom = nullptr;
    tvx_CheckRom_fn checkRom = nullptr;
    tvx_dcReadInputReport_fn inputReport = nullptr;

    void load() {
        lib = openLibrary("libUsbInterface.so");
        devices = entry<tvx_dcDevices_fn>(lib, "dcDevices");
        writeProperty = entry<tvx_rw_fn>(lib, "dcWriteProperty");
        writePropertyQpa = entry<tvx_rw_fn>(lib, "dcWritePropertyForQPA");
        readProperty = entry<tvx_rw_fn>(lib, "dcReadProperty");
        writeHfd = entry<tvx_rw_fn>(lib, "dcWriteHFDData");
        writeStartTr = entry<tvx_rw_fn>(lib, "dcWriteStartTr");
        readHfd = entry<tvx_rw_fn>(lib, "dcReadHFDData");
        reset = entry<tvx_Reset_fn>(lib, "Reset");
        notify = entry<tvx_dcNotifyDevice_fn>(lib, "dcNotifyDevice");
        exist = entry<tvx_dcDeviceExist_fn>(lib, "dcDeviceExist");
        updateVersion = entry<tvx_UpdateVersion_fn>(lib, "UpdateVersion");
        eraseRom = entry<tvx_path_fn>(lib, "dcEraseRom");
        finishRom = entry<tvx_path_fn>(lib, "FinishUpdateRom");
        bootLoader = entry<tvx_path_fn>(lib, "BootLoader");
        writeRom = entry<tvx_dcWriteRom_fn>(lib, "dcWriteRom");
        checkRom = entry<tvx_CheckRom_fn>(lib, "CheckRom");
        inputReport = entry<tvx_dcReadInputReport_fn>(lib, "dcReadInputReport");
    }
};

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        usb.load();
        ASSERT_NE(usb.devices, nullptr);
        qputenv("TORVANIX_SIM_STATE", statePath().toLocal8Bit());
        qputenv("TORVANIX_SIM_TRACE", tracePath().toLocal8Bit());
        qunsetenv("TORVANIX_SIM_FAULTS");
    }
    void TearDown() override {
        qunsetenv("TORVANIX_SIM_DEVICES");
        qunsetenv("TORVANIX_SIM_STATE");
        qunsetenv("TORVANIX_SIM_TRACE");
        qunsetenv("TORVANIX_SIM_FAULTS");
    }

    QString statePath() const { return dir.filePath(QStringLiteral("state.json")); }
    QString tracePath() const { return dir.filePath(QStringLiteral("trace.jsonl")); }

    void useDevices(const QJsonArray &devices) {
        const QString file = dir.filePath(QStringLiteral("devices.json"));
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(devices).toJson());
        f.close();
        qputenv("TORVANIX_SIM_DEVICES", file.toLocal8Bit());
    }

    QJsonObject state() const {
        QFile f(statePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    QJsonObject deviceState(const QString &path) const {
        return state().value(QStringLiteral("devices")).toObject().value(path).toObject();
    }

    QVector<QJsonObject> traceLines() const {
        QVector<QJsonObject> out;
        QFile f(tracePath());
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError err;
            const QJsonDocument doc = QJsonDocument::fromJson(line, &err);
            EXPECT_TRUE(doc.isObject()) << line.constData();
            out.append(doc.object());
        }
        return out;
    }

    // Paths of the listing, in list order.
    QStringList listed(const uint16_t *filter = nullptr) {
        std::vector<uint8_t> block(TVX_LIST_BLOCK_SIZE, 0);
        const int n = usb.devices(block.data(), filter);
        EXPECT_EQ(n, block[0] | (block[1] << 8));
        QStringList paths;
        for (int i = 0; i < n; ++i) {
            const uint8_t *d = block.data() + 2 + size_t(i) * TVX_DESCRIPTION_SIZE;
            QString p;
            for (int u = 0; u < TVX_DESC_PATH_UNITS; ++u) {
                const uint16_t c =
                    uint16_t(d[TVX_DESC_PATH + 2 * u] | d[TVX_DESC_PATH + 2 * u + 1] << 8);
                if (!c)
                    break;
                p.append(QChar(c));
            }
            paths << p;
        }
        return paths;
    }

    int write(const QString &path, uint8_t address, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> block(TVX_TRANSFER_BLOCK_SIZE, 0);
        std::copy(bytes.begin(), bytes.end(), block.begin());
        return usb.writeProperty(wide(path).data(), block.data(), address, int(bytes.size()));
    }
    std::vector<uint8_t> read(const QString &path, uint8_t address, int count, int *ret = nullptr) {
        std::vector<uint8_t> block(TVX_TRANSFER_BLOCK_SIZE, 0);
        const int r = usb.readProperty(wide(path).data(), block.data(), address, count);
        if (ret)
            *ret = r;
        return std::vector<uint8_t>(block.begin() + 8, block.begin() + 8 + count);
    }

    QTemporaryDir dir;
    Usb usb;
};

} // namespace simtest
