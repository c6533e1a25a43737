#pragma once

#include <QString>
#include <QStringList>
#include <pugixml.hpp>

namespace torvanix {

class EventSink;

// Document handling shared by every translator.
namespace xml {

// Parses UTF-8 document text with the parser's default options (CDATA, escapes, attribute
// whitespace conversion, end-of-line normalisation). Returns false when it does not parse;
// the caller then drops the document without effect.
bool load(pugi::xml_document &doc, const QString &text);

// First node selected by an XPath expression. Compiled expressions are cached per thread by
// their text, so use it for the fixed expressions of the translators (a growing set of
// different texts would grow the cache). Invalid expressions and evaluation errors give an
// empty node; no exception leaves.
pugi::xml_node select(const pugi::xml_node &context, const char *xpath);
// The same for an expression built at run time (compiled on every call). An invalid expression
// gives an empty node.
pugi::xml_node selectBuilt(const pugi::xml_node &context, const QString &xpath);

// Attribute text; a missing node or attribute reads as the empty text.
QString attr(const pugi::xml_node &node, const char *name);
// Sets an attribute, creating it when missing (a missing node is left alone).
void setAttr(pugi::xml_node node, const char *name, const QString &value);

// The DeviceIdentity of a document: `value` of /configuration/key[@name='UsbId'].
QString identity(const pugi::xml_node &doc);

// The document written out with tab indentation (declaration included).
QString write(const pugi::xml_document &doc);

// The answer text: the written document with the declaration <?xml version="1.0"?> and every
// occurrence of each of `removeTexts` (for example `action="get"`) removed by plain text
// replacement.
QString answer(const pugi::xml_document &doc, const QStringList &removeTexts);

// Sends `text` to the page as the event OnNotifySaveXml with one string argument.
void sendSaveXml(EventSink &events, const QString &text);

// The action texts that answers remove.
inline const char *const ActionGet = "action=\"get\"";
inline const char *const ActionSet = "action=\"set\"";
inline const char *const ActionReset = "action=\"reset\"";
inline const char *const ActionDelete = "action=\"delete\"";

} // namespace xml
} // namespace torvanix
