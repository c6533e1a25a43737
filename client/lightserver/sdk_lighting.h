#pragma once

#include "sdk_protocol.h"

#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <optional>

namespace pugi {
class xml_document;
}

namespace torvanix::sdk {

// What the lighting server knows of a device besides its model template.
struct DeviceFacts {
    QString identity;   // DeviceIdentity (the record's key)
    QString devicePath; // DevicePath
    QString version;    // the record's Version (the template's name)
    QString serial;     // the record's Sn
};

// What one lighting zone of a device shows: per-key colours, or a preset effect with its values.
struct ZoneTarget {
    bool perKey = false;
    QVector<Colour> colours; // per-key only, in the order of the zone's LEDs
    int effect = 0;
    Colour rgb;
    int brightness = 0, speed = 0, direction = 0;
    // The preset values above are what the device holds (a device showing per-key colours
    // keeps the preset it was last given).
    bool presetKnown = false;
    bool operator==(const ZoneTarget &o) const;
};

// The client-visible state of one controller: shared by every client, kept while the device is
// listed.
struct LightState {
    int activeMode = 0;
    int presetMode = 0;      // the effect the preset zones show (the active mode unless Direct)
    QVector<Mode> modes;     // the mode list with the values clients gave them
    QVector<Colour> colours; // one per LED
    QVector<QVector<Segment>> segments; // per zone
};

// One device with lighting as a controller of the protocol, made from its model template: the
// zones, LEDs and modes a client sees, and the configuration documents that carry a state to
// the device. The documents are the page's own: the template with every `action` removed, the
// zone's values filled in, and the per-key mode ("LightUp") or the preset ("Default") with its
// changed key marked "set", so the translators write exactly what the page would write.
class DeviceLighting {
public:
    ~DeviceLighting();
    // Null for a template without lighting, or of a family whose translator sends none.
    static std::shared_ptr<DeviceLighting> fromTemplate(const QString &templateText,
                                                        const DeviceFacts &facts);

    const DeviceFacts &facts() const { return facts_; }
    int ledCount() const { return ledCount_; }
    int zoneCount() const { return zones_.size(); }
    int zoneFirstLed(int zone) const { return zones_[zone].firstLed; }
    int zoneLedCount(int zone) const { return zones_[zone].ledCount(); }
    // The zone takes per-key colours (else its one LED is its preset colour).
    bool zonePerKey(int zone) const { return zones_[zone].perKey; }
    // The "Direct" mode's index, or -1 when the family takes no per-key colours.
    int directMode() const { return directMode_; }

    // What the device shows before any client spoke: the template's values.
    LightState initialState() const;
    ControllerData describe(const LightState &state) const;

    // A mode as a client sends it, made to fit the mode it replaces (limits, flags, colours).
    Mode fitMode(int index, const Mode &given) const;
    // The colour of a preset zone's LED becomes the mode colour where the device has no other
    // zone (a mouse), so the mode shows what the device shows.
    void noteLedColours(LightState &state) const;
    // A mode's colour reaches the preset zones' LEDs.
    void applyModeColour(LightState &state) const;

    QVector<ZoneTarget> targets(const LightState &state) const;
    // The documents that take the device from `sent` (unknown: nothing assumed) to `wanted`, in
    // the order to send them.
    QStringList documents(const QVector<ZoneTarget> &wanted,
                          const std::optional<QVector<ZoneTarget>> &sent) const;
    // What the device holds once `written` went out over `before`.
    static QVector<ZoneTarget> settle(QVector<ZoneTarget> written,
                                      const std::optional<QVector<ZoneTarget>> &before);

private:
    struct ZoneDef {
        QString element; // "light" or "lightLeft"
        QString name;
        bool perKey = false;
        QStringList ledNames;
        QVector<int> rcs;
        int firstLed = 0;
        bool hasRgb = false, hasBrightness = false, hasSpeed = false, hasDirection = false;
        ZoneTarget initial;
        quint32 matrixHeight = 0, matrixWidth = 0;
        QVector<quint32> matrix;
        int ledCount() const { return perKey ? ledNames.size() : 1; }
    };
    struct Traits {
        QVector<int> effects;
        int colourEffect = -1; // -1: every effect takes the colour; -2: none does
        bool brightness = false, speed = false, direction = false, perKey = false;
        bool oneDocument = false; // the translator writes every effect value from one document
    };
    enum class Mark { LightUp, Effect, Value };

    DeviceLighting() = default;
    bool colourApplies(int effect) const;
    QString document(int zone, const ZoneTarget &t, Mark mark, const char *key) const;

    DeviceFacts facts_;
    QString model_;
    qint32 type_ = KeyboardType;
    Traits traits_;
    QVector<ZoneDef> zones_;
    QVector<Mode> modes_;
    int directMode_ = -1;
    int ledCount_ = 0;
    std::unique_ptr<pugi::xml_document> template_;
};

// "ff8000"
QString hexColour(const Colour &c);

} // namespace torvanix::sdk
