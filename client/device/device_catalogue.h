#pragma once

// Which listed HID interfaces the program supports and under which DeviceIdentity. The rows
// are data (the built-in resource :/catalogue/devices.json); the order in which the row
// families are tried is code, below.

#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>
#include <optional>

namespace torvanix {

// One interface as the USB device access library describes it (a 2107-byte entry of its
// list). Texts stop at their first NUL or at their field's end.
struct DeviceDescription {
    QString bluetoothVersion; // the 5-byte Bluetooth firmware version text
    QString firmwareIdentity; // first 14 bytes of the 17-byte identity field
    QString lastVersionNum;   // bytes 15 and 16 of that field; empty when byte 15 is NUL
    QString serialNumber;     // 14 bytes
    int battery = 0;          // 0 .. 255
    int connectStatus = 0;    // 0 .. 255
    QString path;             // up to 510 UTF-16 code units
};

constexpr int kDescriptionSize = 2107;

// Reads one entry; `entry` must hold kDescriptionSize bytes.
DeviceDescription parseDeviceDescription(const uint8_t *entry);

struct DeviceCatalogue {
    // Interfaces listed with a full record: vid_<vendor>&pid_<product>.*&col<collection>.
    struct FullRecordRow {
        QString vendor, product, collection; // lower-case hexadecimal
        // The USB interface number (mi_, two decimal digits) whose node carries the
        // collection: the only one of the device the program opens. Empty: any.
        QString interface;
        QRegularExpression pattern;
    };
    enum class Confirmation { None, KeyboardLibrary, MouseLibrary };
    // Interfaces listed under a fixed identity once their confirmation holds; tried first.
    struct SpecialRow {
        QString pattern;
        Confirmation confirmation = Confirmation::None;
        QString identity;
        QRegularExpression re;
    };
    enum class Condition { Always, FlaggedDeviceSeen };
    // Companion interfaces of listed devices, dropped without a listing.
    struct AuxiliaryRow {
        QString pattern;
        Condition condition = Condition::Always;
        QRegularExpression re;
    };

    QVector<FullRecordRow> fullRecord;
    QVector<SpecialRow> special;
    QVector<AuxiliaryRow> auxiliary;
    // Listing a full record with this Version sets flaggedDeviceSeen.
    QString flaggedIdentity;
    // Never listed by the generic rule: substrings of the upper-case path.
    QStringList exclusions;
    QRegularExpression generic;
};

// Reads a catalogue document. Malformed rows are left out; every malformed, duplicate or
// conflicting row is described in `problems` (when given).
DeviceCatalogue parseDeviceCatalogue(const QByteArray &json, QStringList *problems = nullptr);

// The built-in catalogue, read once from the resource.
const DeviceCatalogue &builtInCatalogue();

// Registers the catalogue resource of this static library; safe to call repeatedly.
void initCatalogueResources();

// Process-wide: 0 at start, 1 once a full record with the catalogue's flaggedIdentity has been
// listed; the program never clears it. The setter exists for tests that need a fresh process
// state.
int flaggedDeviceSeen();
void setFlaggedDeviceSeen(int value);

struct ClassifiedDevice {
    QString identity;
    QJsonObject record; // string values only
};

// How the two special interfaces are confirmed (the keyboard and mouse libraries' probes).
// An empty function counts as "not confirmed".
struct SpecialInterfaceProbes {
    std::function<bool()> keyboard;
    std::function<bool()> mouse;
};

// The identity and record of one interface, or nothing when it is not listed. May set
// flaggedDeviceSeen.
std::optional<ClassifiedDevice> classifyDeviceDescription(const DeviceDescription &description,
                                                          const SpecialInterfaceProbes &probes,
                                                          const DeviceCatalogue &catalogue);
std::optional<ClassifiedDevice> classifyDeviceDescription(const DeviceDescription &description,
                                                          const SpecialInterfaceProbes &probes);

} // namespace torvanix
