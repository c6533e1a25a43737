#include "sdk_lighting.h"

#include <QHash>
#include <QRegularExpression>
#include <pugixml.hpp>

#include <string>

namespace torvanix::sdk {

namespace {

const char *const kPreset = "Default";
const char *const kPerKey = "LightUp";

QString attrText(const pugi::xml_node &n, const char *name) {
    return QString::fromUtf8(n.attribute(name).value());
}

int attrInt(const pugi::xml_node &n, const char *name, int otherwise = 0) {
    bool ok = false;
    const int v = attrText(n, name).trimmed().toInt(&ok);
    return ok ? v : otherwise;
}

std::optional<Colour> parseColour(const QString &hex) {
    static const QRegularExpression six(QStringLiteral("^[0-9a-fA-F]{6}$"));
    if (!six.match(hex).hasMatch())
        return std::nullopt;
    const uint v = hex.toUInt(nullptr, 16);
    return Colour{quint8(v >> 16), quint8(v >> 8), quint8(v)};
}

pugi::xml_node childByName(const pugi::xml_node &parent, const char *element, const char *name) {
    return parent.find_child_by_attribute(element, "name", name);
}

void stripActions(pugi::xml_node n) {
    n.remove_attribute("action");
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        stripActions(c);
}

void setAttr(pugi::xml_node n, const char *name, const QString &value) {
    if (!n)
        return;
    pugi::xml_attribute a = n.attribute(name);
    if (!a)
        a = n.append_attribute(name);
    a.set_value(value.toUtf8().constData());
}

// The identity as the dispatcher compares it (the page's normaliseIdentity).
QString normalised(const QString &identity) {
    QString id = identity.trimmed();
    id.replace(QStringLiteral("WSU-DFO-V1.1.0.6"), QStringLiteral("WSU-DFO-V1.1.0"));
    return id.toUpper();
}

QVector<int> range(int from, int to) {
    QVector<int> out;
    for (int i = from; i <= to; ++i)
        out.append(i);
    return out;
}

quint32 clampTo(quint32 v, quint32 lo, quint32 hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

constexpr int kLevelMax = 4; // brightness and speed levels the page offers: 0 .. 4

} // namespace

QString hexColour(const Colour &c) {
    return QStringLiteral("%1%2%3")
        .arg(c.r, 2, 16, QLatin1Char('0'))
        .arg(c.g, 2, 16, QLatin1Char('0'))
        .arg(c.b, 2, 16, QLatin1Char('0'));
}

bool ZoneTarget::operator==(const ZoneTarget &o) const {
    return perKey == o.perKey && colours == o.colours && effect == o.effect && rgb == o.rgb &&
           brightness == o.brightness && speed == o.speed && direction == o.direction &&
           presetKnown == o.presetKnown;
}

DeviceLighting::~DeviceLighting() = default;

std::shared_ptr<DeviceLighting> DeviceLighting::fromTemplate(const QString &templateText,
                                                             const DeviceFacts &facts) {
    auto doc = std::make_unique<pugi::xml_document>();
    const QByteArray utf8 = templateText.toUtf8();
    if (!doc->load_buffer(utf8.constData(), size_t(utf8.size())))
        return nullptr;
    const pugi::xml_node config = doc->child("configuration");
    if (!config)
        return nullptr;

    // What each translator sends for lighting (the page's family table says the same).
    Traits traits;
    const QString family = normalised(attrText(childByName(config, "key", "UsbId"), "value"));
    if (family == QLatin1String("0C458075")) {
        traits = {range(1, 20), -1, true, true, true, true, true};
    } else if (family == QLatin1String("05AC024F")) {
        traits = {range(0, 9), -2, false, false, false, true, true};
    } else if (family == QLatin1String("258A002E")) {
        traits = {range(0, 9), 2, false, false, false, false, true};
    } else if (family.isEmpty() || family == QLatin1String("SYNC") ||
               family.startsWith(QLatin1String("HJE-XAV-"))) {
        return nullptr;
    } else {
        traits = {range(0, 9), -1, true, true, true, true, false};
    }

    std::shared_ptr<DeviceLighting> d(new DeviceLighting);
    d->facts_ = facts;
    d->traits_ = traits;
    d->model_ = attrText(config, "model");
    if (d->model_.isEmpty())
        d->model_ = facts.version;

    // A second zone means the notebook; a DPI table or a handful of buttons a mouse.
    int buttons = 0;
    bool mouseKeys = false;
    QHash<int, QPair<int, int>> places; // rc -> (row, column) of the model's keys
    static const QRegularExpression buttonName(QStringLiteral("^Button\\d+$"));
    for (pugi::xml_node k = config.child("key"); k; k = k.next_sibling("key")) {
        const QString name = attrText(k, "name");
        if (name == QLatin1String("DpiCount") || name == QLatin1String("DpiCurrent"))
            mouseKeys = true;
        if (!buttonName.match(name).hasMatch())
            continue;
        ++buttons;
        if (k.attribute("rc") && k.attribute("r") && k.attribute("c"))
            places.insert(attrInt(k, "rc", -1), qMakePair(attrInt(k, "r"), attrInt(k, "c")));
    }
    if (config.child("lightLeft"))
        d->type_ = LedStripType;
    else if (config.child("dpi") || mouseKeys || (buttons > 0 && buttons <= 12))
        d->type_ = MouseType;
    else
        d->type_ = KeyboardType;

    int perKeyIndex = -1;
    for (const char *element : {"light", "lightLeft"}) {
        const pugi::xml_node zone = config.child(element);
        if (!zone)
            continue;
        const pugi::xml_node preset = childByName(zone, "mode", kPreset);
        const pugi::xml_node lightUp = childByName(zone, "mode", kPerKey);
        ZoneDef z;
        z.element = QString::fromLatin1(element);
        z.hasRgb = bool(childByName(preset, "key", "LightRGB"));
        z.hasBrightness = bool(childByName(preset, "key", "LightBrightness"));
        z.hasSpeed = bool(childByName(preset, "key", "LightSpeed"));
        z.hasDirection = bool(childByName(preset, "key", "LightDirection"));
        ZoneTarget &t = z.initial;
        t.effect = attrInt(preset, "index");
        t.rgb = parseColour(attrText(childByName(preset, "key", "LightRGB"), "value"))
                    .value_or(Colour{0xff, 0xff, 0xff});
        t.brightness = attrInt(childByName(preset, "key", "LightBrightness"), "value");
        t.speed = attrInt(childByName(preset, "key", "LightSpeed"), "value");
        t.direction = attrInt(childByName(preset, "key", "LightDirection"), "value");
        if (traits.perKey && lightUp && lightUp.child("key")) {
            z.perKey = true;
            perKeyIndex = attrInt(lightUp, "index");
            for (pugi::xml_node e = lightUp.child("key"); e; e = e.next_sibling("key")) {
                z.ledNames << attrText(e, "name");
                z.rcs << attrInt(e, "rc", -1);
                z.initial.colours << parseColour(attrText(e, "rgb")).value_or(Colour{});
            }
        }
        if (!preset && !z.perKey)
            continue;
        const bool left = z.element == QLatin1String("lightLeft");
        if (d->type_ == MouseType)
            z.name = QStringLiteral("Mouse");
        else
            z.name = left ? QStringLiteral("Left side") : QStringLiteral("Keyboard");
        if (!z.perKey)
            z.ledNames = QStringList{z.name};
        // The key picture's rows and columns, where the model places its keys.
        if (z.perKey && !places.isEmpty()) {
            int rows = 0, columns = 0;
            for (int rc : qAsConst(z.rcs)) {
                if (!places.contains(rc))
                    continue;
                rows = qMax(rows, places[rc].first + 1);
                columns = qMax(columns, places[rc].second + 1);
            }
            if (rows > 0 && columns > 0 && rows * columns <= 4096) {
                z.matrixHeight = quint32(rows);
                z.matrixWidth = quint32(columns);
                z.matrix.fill(kNoLed, rows * columns);
                for (int i = 0; i < z.rcs.size(); ++i) {
                    const auto it = places.constFind(z.rcs[i]);
                    if (it == places.constEnd() || it->first < 0 || it->second < 0)
                        continue;
                    z.matrix[it->first * columns + it->second] = quint32(i);
                }
            }
        }
        z.firstLed = d->ledCount_;
        d->ledCount_ += z.ledCount();
        d->zones_.append(z);
    }
    if (d->zones_.isEmpty())
        return nullptr;

    bool direction = false;
    for (const ZoneDef &z : qAsConst(d->zones_))
        direction = direction || (traits.direction && z.hasDirection);
    for (int effect : qAsConst(traits.effects)) {
        Mode m;
        m.name = QStringLiteral("Effect %1").arg(effect);
        m.value = effect;
        if (traits.speed) {
            m.flags |= HasSpeed;
            m.speedMax = kLevelMax;
        }
        if (traits.brightness) {
            m.flags |= HasBrightness;
            m.brightnessMax = kLevelMax;
        }
        if (direction)
            m.flags |= HasDirectionLR;
        const ZoneTarget &first = d->zones_.first().initial;
        m.speed = clampTo(quint32(qMax(0, first.speed)), 0, m.speedMax);
        m.brightness = clampTo(quint32(qMax(0, first.brightness)), 0, m.brightnessMax);
        m.direction = direction && first.direction == 1 ? 1 : 0;
        if (d->colourApplies(effect) && d->zones_.first().hasRgb) {
            m.flags |= HasModeSpecificColour;
            m.colourMode = ModeSpecificColours;
            m.coloursMin = m.coloursMax = 1;
            m.colours = {first.rgb};
        }
        d->modes_.append(m);
    }
    for (const ZoneDef &z : qAsConst(d->zones_)) {
        if (!z.perKey)
            continue;
        Mode m;
        m.name = QStringLiteral("Direct");
        m.value = perKeyIndex;
        m.flags = HasPerLedColour;
        m.colourMode = PerLedColours;
        d->directMode_ = d->modes_.size();
        d->modes_.append(m);
        break;
    }
    d->template_ = std::move(doc);
    stripActions(d->template_->document_element());
    return d;
}

bool DeviceLighting::colourApplies(int effect) const {
    return traits_.colourEffect == -1 || traits_.colourEffect == effect;
}

LightState DeviceLighting::initialState() const {
    LightState s;
    s.modes = modes_;
    const int effect = zones_.first().initial.effect;
    for (int i = 0; i < modes_.size(); ++i) {
        if (i != directMode_ && modes_[i].value == effect)
            s.activeMode = i;
    }
    s.presetMode = s.activeMode;
    for (const ZoneDef &z : zones_) {
        if (z.perKey)
            s.colours += z.initial.colours;
        else
            s.colours.append(z.initial.rgb);
    }
    s.segments.resize(zones_.size());
    return s;
}

ControllerData DeviceLighting::describe(const LightState &state) const {
    ControllerData d;
    d.type = type_;
    d.name = model_;
    d.vendor = QStringLiteral("Torvanix");
    d.description = QStringLiteral("%1 lighting").arg(model_);
    d.version = facts_.version;
    d.serial = facts_.serial;
    d.location = facts_.devicePath;
    d.activeMode = state.activeMode;
    d.modes = state.modes;
    for (int i = 0; i < zones_.size(); ++i) {
        const ZoneDef &z = zones_[i];
        Zone out;
        out.name = z.name;
        out.type = !z.perKey ? SingleZone : (z.matrix.isEmpty() ? LinearZone : MatrixZone);
        out.ledsMin = out.ledsMax = out.ledsCount = quint32(z.ledCount());
        out.matrixHeight = z.matrixHeight;
        out.matrixWidth = z.matrixWidth;
        out.matrix = z.matrix;
        if (i < state.segments.size())
            out.segments = state.segments[i];
        d.zones.append(out);
        for (int l = 0; l < z.ledCount(); ++l)
            d.leds.append(Led{z.ledNames.value(l), z.perKey ? quint32(z.rcs.value(l)) : 0u});
    }
    d.colours = state.colours;
    return d;
}

Mode DeviceLighting::fitMode(int index, const Mode &given) const {
    Mode m = modes_.value(index);
    if (m.flags & HasSpeed)
        m.speed = clampTo(given.speed, m.speedMin, m.speedMax);
    if (m.flags & HasBrightness)
        m.brightness = clampTo(given.brightness, m.brightnessMin, m.brightnessMax);
    if (m.flags & HasDirectionLR)
        m.direction = given.direction == 1 ? 1 : 0;
    if ((m.flags & HasModeSpecificColour) && !given.colours.isEmpty())
        m.colours = {given.colours.first()};
    return m;
}

void DeviceLighting::noteLedColours(LightState &state) const {
    for (const ZoneDef &z : zones_) {
        if (z.perKey)
            return;
    }
    Mode &m = state.modes[state.presetMode];
    if ((m.flags & HasModeSpecificColour) && !state.colours.isEmpty())
        m.colours = {state.colours.first()};
}

void DeviceLighting::applyModeColour(LightState &state) const {
    const Mode &m = state.modes[state.presetMode];
    if (!(m.flags & HasModeSpecificColour) || m.colours.isEmpty())
        return;
    for (const ZoneDef &z : zones_) {
        if (!z.perKey)
            state.colours[z.firstLed] = m.colours.first();
    }
}

QVector<ZoneTarget> DeviceLighting::targets(const LightState &state) const {
    QVector<ZoneTarget> out;
    const Mode &preset = state.modes[state.presetMode];
    for (const ZoneDef &z : zones_) {
        ZoneTarget t = z.initial;
        t.colours.clear();
        if (z.perKey && state.activeMode == directMode_) {
            t.perKey = true;
            t.colours = state.colours.mid(z.firstLed, z.ledCount());
            t.presetKnown = false;
            out.append(t);
            continue;
        }
        t.presetKnown = true;
        t.effect = preset.value;
        if (preset.flags & HasBrightness)
            t.brightness = int(preset.brightness);
        if (preset.flags & HasSpeed)
            t.speed = int(preset.speed);
        if ((preset.flags & HasDirectionLR) && z.hasDirection)
            t.direction = int(preset.direction);
        if (!z.perKey)
            t.rgb = state.colours.value(z.firstLed);
        else if (!preset.colours.isEmpty())
            t.rgb = preset.colours.first();
        out.append(t);
    }
    return out;
}

QStringList DeviceLighting::documents(const QVector<ZoneTarget> &wanted,
                                      const std::optional<QVector<ZoneTarget>> &sent) const {
    QStringList docs;
    for (int i = 0; i < zones_.size() && i < wanted.size(); ++i) {
        const ZoneDef &z = zones_[i];
        const ZoneTarget &w = wanted[i];
        const ZoneTarget *s = sent && i < sent->size() ? &sent->at(i) : nullptr;
        if (w.perKey) {
            if (!s || !s->perKey || s->colours != w.colours)
                docs << document(i, w, Mark::LightUp, nullptr);
            continue;
        }
        // Per-key colours replaced the effect selection, not the preset's values.
        const bool fresh = !s || (s->perKey && !s->presetKnown);
        const bool effect = !s || s->perKey || s->effect != w.effect;
        QVector<const char *> values;
        if (z.hasRgb && colourApplies(w.effect) && (fresh || s->rgb != w.rgb))
            values << "LightRGB";
        if (traits_.brightness && z.hasBrightness && (fresh || s->brightness != w.brightness))
            values << "LightBrightness";
        if (traits_.speed && z.hasSpeed && (fresh || s->speed != w.speed))
            values << "LightSpeed";
        if (traits_.direction && z.hasDirection && (fresh || s->direction != w.direction))
            values << "LightDirection";
        if (traits_.oneDocument) {
            if (effect || !values.isEmpty())
                docs << document(i, w, Mark::Effect, nullptr);
            continue;
        }
        if (effect)
            docs << document(i, w, Mark::Effect, nullptr);
        for (const char *key : qAsConst(values))
            docs << document(i, w, Mark::Value, key);
    }
    return docs;
}

QVector<ZoneTarget> DeviceLighting::settle(QVector<ZoneTarget> written,
                                           const std::optional<QVector<ZoneTarget>> &before) {
    for (int i = 0; i < written.size(); ++i) {
        ZoneTarget &t = written[i];
        if (!t.perKey)
            continue;
        t.presetKnown = false;
        if (!before || i >= before->size())
            continue;
        const ZoneTarget &b = before->at(i);
        if (b.perKey && !b.presetKnown)
            continue;
        t.effect = b.effect;
        t.rgb = b.rgb;
        t.brightness = b.brightness;
        t.speed = b.speed;
        t.direction = b.direction;
        t.presetKnown = true;
    }
    return written;
}

QString DeviceLighting::document(int zoneIndex, const ZoneTarget &t, Mark mark,
                                 const char *key) const {
    const ZoneDef &z = zones_[zoneIndex];
    pugi::xml_document doc;
    doc.reset(*template_);
    const pugi::xml_node zone = doc.child("configuration").child(z.element.toLatin1().constData());
    if (mark == Mark::LightUp) {
        const pugi::xml_node lightUp = childByName(zone, "mode", kPerKey);
        int i = 0;
        for (pugi::xml_node e = lightUp.child("key"); e; e = e.next_sibling("key"), ++i)
            setAttr(e, "rgb", hexColour(t.colours.value(i)));
        setAttr(lightUp, "action", QStringLiteral("set"));
    } else {
        const pugi::xml_node preset = childByName(zone, "mode", kPreset);
        setAttr(preset, "index", QString::number(t.effect));
        setAttr(childByName(preset, "key", "LightMode"), "value", QString::number(t.effect));
        setAttr(childByName(preset, "key", "LightRGB"), "value", hexColour(t.rgb));
        setAttr(childByName(preset, "key", "LightBrightness"), "value",
                QString::number(t.brightness));
        setAttr(childByName(preset, "key", "LightSpeed"), "value", QString::number(t.speed));
        setAttr(childByName(preset, "key", "LightDirection"), "value",
                QString::number(t.direction));
        setAttr(preset, "action", QStringLiteral("set"));
        setAttr(childByName(preset, "key", mark == Mark::Effect ? "LightMode" : key), "action",
                QStringLiteral("set"));
    }
    struct Writer : pugi::xml_writer {
        std::string text;
        void write(const void *data, size_t size) override {
            text.append(static_cast<const char *>(data), size);
        }
    } writer;
    doc.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    return QString::fromStdString(writer.text);
}

} // namespace torvanix::sdk
