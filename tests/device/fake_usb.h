#pragma once

// A USB access library table that records every call and answers from fixed content.

#include "device/devices_handler.h"
#include "device/pacer.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstring>
#include <vector>

namespace torvanix::test {

struct UsbCall {
    QString entry;
    QString path;
    int arg = 0; // address, packet type or the first small argument
    int count = 0;
    QByteArray block; // the first 64 bytes handed over
};

struct FakeUsb {
    QVector<UsbCall> calls;
    int result = 1;
    QByteArray readAnswer;            // copied to the block (at the offset the entry uses)
    std::vector<uint8_t> list;        // what dcDevices fills in
    std::vector<uint16_t> lastFilter; // what dcDevices received
    QByteArray inputReport;           // what dcReadInputReport answers
    int inputReportResult = -2;       // < -1: the report's length

    static QString pathText(const tvx_char16 *path) {
        int n = 0;
        while (path[n])
            ++n;
        return QString(reinterpret_cast<const QChar *>(path), n);
    }

    void record(const char *entry, const tvx_char16 *path, int arg, int count, const uint8_t *b) {
        UsbCall c{QString::fromLatin1(entry), pathText(path), arg, count, {}};
        if (b)
            c.block = QByteArray(reinterpret_cast<const char *>(b), 64);
        calls << c;
    }

    UsbInterfaceTable table() {
        UsbInterfaceTable t;
        auto writer = [this](const char *name) {
            return [this, name](const tvx_char16 *p, uint8_t *b, uint8_t a, int n) {
                record(name, p, a, n, b);
                return result;
            };
        };
        t.dcWriteProperty = writer("dcWriteProperty");
        t.dcWritePropertyForQPA = writer("dcWritePropertyForQPA");
        t.dcWriteHFDData = writer("dcWriteHFDData");
        t.dcWriteStartTr = writer("dcWriteStartTr");
        t.dcReadProperty = [this](const tvx_char16 *p, uint8_t *b, uint8_t a, int n) {
            std::memcpy(b + 8, readAnswer.constData(), size_t(qMin(readAnswer.size(), 2040)));
            record("dcReadProperty", p, a, n, nullptr);
            return result;
        };
        t.dcReadHFDData = [this](const tvx_char16 *p, uint8_t *b, uint8_t a, int n) {
            std::memcpy(b, readAnswer.constData(), size_t(qMin(readAnswer.size(), 2048)));
            record("dcReadHFDData", p, a, n, nullptr);
            return result;
        };
        t.Reset = [this](const tvx_char16 *p, uint8_t a, uint8_t b) {
            record("Reset", p, a, b, nullptr);
            return result;
        };
        t.dcNotifyDevice = [this](const tvx_char16 *p, uint8_t *b, int n) {
            UsbCall c{"dcNotifyDevice", pathText(p), 0, n,
                      QByteArray(reinterpret_cast<const char *>(b), 4)};
            calls << c;
            return result;
        };
        t.dcReadInputReport = [this](const tvx_char16 *p, uint8_t *b, int n, int timeout) {
            record("dcReadInputReport", p, timeout, n, nullptr);
            if (inputReportResult >= -1)
                return inputReportResult;
            std::memcpy(b, inputReport.constData(), size_t(qMin(inputReport.size(), n)));
            return int(inputReport.size());
        };
        t.dcDevices = [this](uint8_t *out, const uint16_t *filter) {
            lastFilter.assign(filter, filter + TVX_FILTER_PAIRS * 2);
            std::memcpy(out, list.data(), qMin(list.size(), size_t(TVX_LIST_BLOCK_SIZE)));
            calls << UsbCall{"dcDevices", {}, 0, 0, {}};
            return int(list.size() >= 2 ? list[0] | (list[1] << 8) : 0);
        };
        return t;
    }
};

class RecordingPacer : public Pacer {
public:
    void pause(int milliseconds) override { pauses << milliseconds; }
    QVector<int> pauses;
};

// Installs a recording pacer for the life of the object.
struct ScopedPacer {
    RecordingPacer pacer;
    ScopedPacer() { setPacer(&pacer); }
    ~ScopedPacer() { setPacer(nullptr); }
};

} // namespace torvanix::test
