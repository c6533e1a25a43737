#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

// The packets of the OpenRGB SDK protocol (a TCP protocol through which other programs set
// lighting colours) and the controller data block, as bytes. Pure functions, no sockets: every
// decoder answers nothing for bytes that do not hold what the packet promises.
namespace torvanix::sdk {

constexpr int kHeaderSize = 16;
// No packet a client needs to send us comes near this: a full keyboard frame is under 1 KiB.
constexpr quint32 kMaxPayload = 64 * 1024;
// The highest protocol version served, every packet of it answered.
constexpr quint32 kHighestVersion = 5;
constexpr quint16 kDefaultPort = 6742;

enum PacketId : quint32 {
    RequestControllerCount = 0,
    RequestControllerData = 1,
    RequestProtocolVersion = 40,
    SetClientName = 50,
    DeviceListUpdated = 100,
    RequestRescanDevices = 140,
    RequestProfileList = 150,
    SaveProfile = 151,
    LoadProfile = 152,
    DeleteProfile = 153,
    RequestPluginList = 200,
    PluginSpecific = 201,
    ResizeZone = 1000,
    ClearSegments = 1001,
    AddSegment = 1002,
    UpdateLeds = 1050,
    UpdateZoneLeds = 1051,
    UpdateSingleLed = 1052,
    SetCustomMode = 1100,
    UpdateMode = 1101,
    SaveMode = 1102,
};

bool knownPacketId(quint32 id);

struct Header {
    quint32 device = 0;
    quint32 id = 0;
    quint32 size = 0;
};

enum class HeaderStatus { Complete, NeedMore, BadMagic, TooLarge, UnknownId };
// Reads a header from the start of `bytes`.
HeaderStatus readHeader(const QByteArray &bytes, Header *header);
QByteArray packet(quint32 device, quint32 id, const QByteArray &payload = QByteArray());

enum DeviceType : qint32 { LedStripType = 4, KeyboardType = 5, MouseType = 6 };
enum ZoneType : qint32 { SingleZone = 0, LinearZone = 1, MatrixZone = 2 };
enum ModeFlag : quint32 {
    HasSpeed = 1u << 0,
    HasDirectionLR = 1u << 1,
    HasBrightness = 1u << 4,
    HasPerLedColour = 1u << 5,
    HasModeSpecificColour = 1u << 6,
};
enum ColourMode : quint32 { NoColours = 0, PerLedColours = 1, ModeSpecificColours = 2 };
constexpr quint32 kNoLed = 0xFFFFFFFFu;

struct Colour {
    quint8 r = 0, g = 0, b = 0;
    bool operator==(const Colour &o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Colour &o) const { return !(*this == o); }
};

struct Mode {
    QString name;
    qint32 value = 0;
    quint32 flags = 0;
    quint32 speedMin = 0, speedMax = 0;
    quint32 brightnessMin = 0, brightnessMax = 0;
    quint32 coloursMin = 0, coloursMax = 0;
    quint32 speed = 0, brightness = 0, direction = 0;
    quint32 colourMode = NoColours;
    QVector<Colour> colours;
};

struct Segment {
    QString name;
    qint32 type = LinearZone;
    quint32 start = 0;
    quint32 count = 0;
};

struct Zone {
    QString name;
    qint32 type = LinearZone;
    quint32 ledsMin = 0, ledsMax = 0, ledsCount = 0;
    quint32 matrixHeight = 0, matrixWidth = 0;
    QVector<quint32> matrix; // row after row; kNoLed where no key is
    QVector<Segment> segments;
    quint32 flags = 0;
};

struct Led {
    QString name;
    quint32 value = 0;
};

struct ControllerData {
    qint32 type = KeyboardType;
    QString name, vendor, description, version, serial, location;
    qint32 activeMode = 0;
    QVector<Mode> modes;
    QVector<Zone> zones;
    QVector<Led> leds;
    QVector<Colour> colours;
};

// The answer to RequestControllerData: the block for `version` (0 .. kHighestVersion), led by
// its own size.
QByteArray encodeControllerData(const ControllerData &data, quint32 version);
QByteArray encodeCount(quint32 count);
// An empty profile or plugin list.
QByteArray encodeEmptyList();

// A text sent with its terminating zero (the client name); cut at the first zero.
QString decodeText(const QByteArray &payload);
std::optional<quint32> decodeUint(const QByteArray &payload);
std::optional<QVector<Colour>> decodeUpdateLeds(const QByteArray &payload);
struct ZoneLeds {
    quint32 zone = 0;
    QVector<Colour> colours;
};
std::optional<ZoneLeds> decodeUpdateZoneLeds(const QByteArray &payload);
struct SingleLed {
    quint32 led = 0;
    Colour colour;
};
std::optional<SingleLed> decodeUpdateSingleLed(const QByteArray &payload);
struct ModeChange {
    quint32 index = 0;
    Mode mode;
};
// UpdateMode and SaveMode; the mode block's layout depends on the client's version.
std::optional<ModeChange> decodeUpdateMode(const QByteArray &payload, quint32 version);
struct SegmentAdd {
    quint32 zone = 0;
    Segment segment;
};
std::optional<SegmentAdd> decodeAddSegment(const QByteArray &payload);

} // namespace torvanix::sdk
