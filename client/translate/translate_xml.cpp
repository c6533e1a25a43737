#include "translate_xml.h"

#include "device/event_sink.h"

#include <QVariantList>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>

namespace torvanix::xml {

bool load(pugi::xml_document &doc, const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    const pugi::xml_parse_result result =
        doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
                        pugi::encoding_utf8);
    return static_cast<bool>(result);
}

namespace {
// Compiled expressions of this thread, by the address of their literal text.
const pugi::xpath_query *compiled(const char *xpath) {
    thread_local std::unordered_map<const char *, std::unique_ptr<pugi::xpath_query>> cache;
    auto it = cache.find(xpath);
    if (it != cache.end())
        return it->second.get();
    std::unique_ptr<pugi::xpath_query> query;
    try {
        query = std::make_unique<pugi::xpath_query>(xpath);
        if (!*query)
            query.reset();
    } catch (const std::exception &) {
        query.reset();
    }
    const pugi::xpath_query *raw = query.get();
    cache.emplace(xpath, std::move(query));
    return raw;
}
} // namespace

pugi::xml_node select(const pugi::xml_node &context, const char *xpath) {
    if (!context)
        return {};
    const pugi::xpath_query *query = compiled(xpath);
    if (!query)
        return {};
    try {
        return context.select_node(*query).node();
    } catch (const std::exception &) {
        return {};
    }
}

pugi::xml_node selectBuilt(const pugi::xml_node &context, const QString &xpath) {
    if (!context)
        return {};
    try {
        const QByteArray utf8 = xpath.toUtf8();
        pugi::xpath_query query(utf8.constData());
        if (!query)
            return {};
        return context.select_node(query).node();
    } catch (const std::exception &) {
        return {};
    }
}

QString attr(const pugi::xml_node &node, const char *name) {
    return QString::fromUtf8(node.attribute(name).value());
}

void setAttr(pugi::xml_node node, const char *name, const QString &value) {
    if (!node)
        return;
    pugi::xml_attribute a = node.attribute(name);
    if (!a)
        a = node.append_attribute(name);
    a.set_value(value.toUtf8().constData());
}

QString identity(const pugi::xml_node &doc) {
    return attr(select(doc, "/configuration/key[@name='UsbId']"), "value");
}

QString write(const pugi::xml_document &doc) {
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    const std::string s = out.str();
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

QString answer(const pugi::xml_document &doc, const QStringList &removeTexts) {
    QString text = write(doc);
    text.remove(QStringLiteral("<?xml version=\"1.0\"?>"));
    for (const QString &r : removeTexts)
        text.remove(r);
    return text;
}

void sendSaveXml(EventSink &events, const QString &text) {
    events.sendEvent(QString::fromLatin1(events::OnNotifySaveXml), QVariantList{text});
}

} // namespace torvanix::xml
