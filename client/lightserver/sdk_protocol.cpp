#include "sdk_protocol.h"

#include <QtEndian>
#include <cstring>

namespace torvanix::sdk {

namespace {

const char kMagic[4] = {'O', 'R', 'G', 'B'};

// Little-endian writer.
class Out {
public:
    void u16(quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        bytes.append(b, 2);
    }
    void u32(quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes.append(b, 4);
    }
    void i32(qint32 v) { u32(static_cast<quint32>(v)); }
    // Lengths count the terminating zero; a text too long for its 16-bit length is cut.
    void text(const QString &s) {
        QByteArray utf8 = s.toUtf8();
        if (utf8.size() > 0xFFFE)
            utf8.truncate(0xFFFE);
        u16(static_cast<quint16>(utf8.size() + 1));
        bytes.append(utf8);
        bytes.append('\0');
    }
    void colour(const Colour &c) {
        bytes.append(static_cast<char>(c.r));
        bytes.append(static_cast<char>(c.g));
        bytes.append(static_cast<char>(c.b));
        bytes.append('\0');
    }
    QByteArray bytes;
};

// Little-endian reader that stops for good at the first read past the end.
class In {
public:
    explicit In(const QByteArray &b) : bytes_(b) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ >= bytes_.size(); }
    int left() const { return bytes_.size() - pos_; }
    quint16 u16() {
        if (!take(2))
            return 0;
        return qFromLittleEndian<quint16>(bytes_.constData() + pos_ - 2);
    }
    quint32 u32() {
        if (!take(4))
            return 0;
        return qFromLittleEndian<quint32>(bytes_.constData() + pos_ - 4);
    }
    qint32 i32() { return static_cast<qint32>(u32()); }
    QString text() {
        const quint16 n = u16();
        if (!ok_ || !take(n))
            return QString();
        return QString::fromUtf8(cutAtZero(bytes_.mid(pos_ - n, n)));
    }
    Colour colour() {
        if (!take(4))
            return {};
        const auto *p = reinterpret_cast<const uchar *>(bytes_.constData() + pos_ - 4);
        return Colour{p[0], p[1], p[2]};
    }
    QVector<Colour> colours() {
        const quint16 n = u16();
        QVector<Colour> out;
        if (!ok_ || left() < 4 * int(n)) {
            ok_ = false;
            return out;
        }
        out.reserve(n);
        for (int i = 0; i < n; ++i)
            out.append(colour());
        return out;
    }
    static QByteArray cutAtZero(const QByteArray &b) {
        const int zero = b.indexOf('\0');
        return zero < 0 ? b : b.left(zero);
    }

private:
    bool take(int n) {
        if (!ok_ || n < 0 || left() < n) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    const QByteArray &bytes_;
    int pos_ = 0;
    bool ok_ = true;
};

void writeMode(Out &o, const Mode &m, quint32 version) {
    o.text(m.name);
    o.i32(m.value);
    o.u32(m.flags);
    o.u32(m.speedMin);
    o.u32(m.speedMax);
    if (version >= 3) {
        o.u32(m.brightnessMin);
        o.u32(m.brightnessMax);
    }
    o.u32(m.coloursMin);
    o.u32(m.coloursMax);
    o.u32(m.speed);
    if (version >= 3)
        o.u32(m.brightness);
    o.u32(m.direction);
    o.u32(m.colourMode);
    o.u16(static_cast<quint16>(m.colours.size()));
    for (const Colour &c : m.colours)
        o.colour(c);
}

void writeZone(Out &o, const Zone &z, quint32 version) {
    o.text(z.name);
    o.i32(z.type);
    o.u32(z.ledsMin);
    o.u32(z.ledsMax);
    o.u32(z.ledsCount);
    const int cells = int(z.matrixHeight * z.matrixWidth);
    if (z.type == MatrixZone && cells > 0 && cells == z.matrix.size()) {
        o.u16(static_cast<quint16>(8 + 4 * cells));
        o.u32(z.matrixHeight);
        o.u32(z.matrixWidth);
        for (quint32 cell : z.matrix)
            o.u32(cell);
    } else {
        o.u16(0);
    }
    if (version >= 4) {
        o.u16(static_cast<quint16>(z.segments.size()));
        for (const Segment &s : z.segments) {
            o.text(s.name);
            o.i32(s.type);
            o.u32(s.start);
            o.u32(s.count);
        }
    }
    if (version >= 5)
        o.u32(z.flags);
}

} // namespace

bool knownPacketId(quint32 id) {
    switch (id) {
    case RequestControllerCount:
    case RequestControllerData:
    case RequestProtocolVersion:
    case SetClientName:
    case DeviceListUpdated:
    case RequestRescanDevices:
    case RequestProfileList:
    case SaveProfile:
    case LoadProfile:
    case DeleteProfile:
    case RequestPluginList:
    case PluginSpecific:
    case ResizeZone:
    case ClearSegments:
    case AddSegment:
    case UpdateLeds:
    case UpdateZoneLeds:
    case UpdateSingleLed:
    case SetCustomMode:
    case UpdateMode:
    case SaveMode:
        return true;
    default:
        return false;
    }
}

HeaderStatus readHeader(const QByteArray &bytes, Header *header) {
    // A wrong magic is known from the first differing byte, before the header is complete.
    const int have = qMin(bytes.size(), 4);
    if (memcmp(bytes.constData(), kMagic, size_t(have)) != 0)
        return HeaderStatus::BadMagic;
    if (bytes.size() < kHeaderSize)
        return HeaderStatus::NeedMore;
    const char *p = bytes.constData();
    header->device = qFromLittleEndian<quint32>(p + 4);
    header->id = qFromLittleEndian<quint32>(p + 8);
    header->size = qFromLittleEndian<quint32>(p + 12);
    if (!knownPacketId(header->id))
        return HeaderStatus::UnknownId;
    if (header->size > kMaxPayload)
        return HeaderStatus::TooLarge;
    return HeaderStatus::Complete;
}

QByteArray packet(quint32 device, quint32 id, const QByteArray &payload) {
    Out o;
    o.bytes.reserve(kHeaderSize + payload.size());
    o.bytes.append(kMagic, 4);
    o.u32(device);
    o.u32(id);
    o.u32(static_cast<quint32>(payload.size()));
    o.bytes.append(payload);
    return o.bytes;
}

QByteArray encodeControllerData(const ControllerData &d, quint32 version) {
    version = qMin(version, kHighestVersion);
    Out o;
    o.u32(0); // own size, filled in below
    o.i32(d.type);
    o.text(d.name);
    if (version >= 1)
        o.text(d.vendor);
    o.text(d.description);
    o.text(d.version);
    o.text(d.serial);
    o.text(d.location);
    o.u16(static_cast<quint16>(d.modes.size()));
    o.i32(d.activeMode);
    for (const Mode &m : d.modes)
        writeMode(o, m, version);
    o.u16(static_cast<quint16>(d.zones.size()));
    for (const Zone &z : d.zones)
        writeZone(o, z, version);
    o.u16(static_cast<quint16>(d.leds.size()));
    for (const Led &l : d.leds) {
        o.text(l.name);
        o.u32(l.value);
    }
    o.u16(static_cast<quint16>(d.colours.size()));
    for (const Colour &c : d.colours)
        o.colour(c);
    if (version >= 5) {
        o.u16(0); // no other LED names
        o.u32(0); // controller flags: a device of this computer
    }
    qToLittleEndian(static_cast<quint32>(o.bytes.size()), o.bytes.data());
    return o.bytes;
}

QByteArray encodeCount(quint32 count) {
    Out o;
    o.u32(count);
    return o.bytes;
}

QByteArray encodeEmptyList() {
    Out o;
    o.u32(6);
    o.u16(0);
    return o.bytes;
}

QString decodeText(const QByteArray &payload) {
    return QString::fromUtf8(In::cutAtZero(payload));
}

std::optional<quint32> decodeUint(const QByteArray &payload) {
    In in(payload);
    const quint32 v = in.u32();
    if (!in.ok())
        return std::nullopt;
    return v;
}

std::optional<QVector<Colour>> decodeUpdateLeds(const QByteArray &payload) {
    In in(payload);
    in.u32(); // data size
    QVector<Colour> colours = in.colours();
    if (!in.ok())
        return std::nullopt;
    return colours;
}

std::optional<ZoneLeds> decodeUpdateZoneLeds(const QByteArray &payload) {
    In in(payload);
    in.u32();
    ZoneLeds z;
    z.zone = in.u32();
    z.colours = in.colours();
    if (!in.ok())
        return std::nullopt;
    return z;
}

std::optional<SingleLed> decodeUpdateSingleLed(const QByteArray &payload) {
    In in(payload);
    SingleLed s;
    s.led = in.u32();
    s.colour = in.colour();
    if (!in.ok())
        return std::nullopt;
    return s;
}

std::optional<ModeChange> decodeUpdateMode(const QByteArray &payload, quint32 version) {
    In in(payload);
    in.u32();
    ModeChange c;
    c.index = in.u32();
    Mode &m = c.mode;
    m.name = in.text();
    m.value = in.i32();
    m.flags = in.u32();
    m.speedMin = in.u32();
    m.speedMax = in.u32();
    if (version >= 3) {
        m.brightnessMin = in.u32();
        m.brightnessMax = in.u32();
    }
    m.coloursMin = in.u32();
    m.coloursMax = in.u32();
    m.speed = in.u32();
    if (version >= 3)
        m.brightness = in.u32();
    m.direction = in.u32();
    m.colourMode = in.u32();
    m.colours = in.colours();
    if (!in.ok())
        return std::nullopt;
    return c;
}

std::optional<SegmentAdd> decodeAddSegment(const QByteArray &payload) {
    In in(payload);
    in.u32();
    SegmentAdd a;
    a.zone = in.u32();
    a.segment.name = in.text();
    a.segment.type = in.i32();
    a.segment.start = in.u32();
    a.segment.count = in.u32();
    if (!in.ok())
        return std::nullopt;
    return a;
}

} // namespace torvanix::sdk
