#pragma once

#include <QString>
#include <functional>

namespace torvanix {

class DeviceOperations;
class EventSink;
class Pacer;
class DriverTemplates;

// What one translation needs from the outside world. A translation keeps no state across
// documents; everything else is in the document itself.
struct TranslationContext {
    DeviceOperations &ops;            // every device read/write, library families included
    const DriverTemplates &templates; // parsed once, read-only, shared by concurrent translations
    EventSink &events;                // OnNotifySaveXml answers
    Pacer &pacer;                     // every pause between device operations
    // SigcallbackReasult: emitted by translateHfdKeyboard when it has finished (always false).
    std::function<void(bool)> callbackResult;
    // Folder that screen images are read from ("" = the program folder). Image names are
    // confined to it.
    QString programDir = QString();
    // Told when a write did not reach the device (why, in words); the translation then sends
    // no "saved" answer. May be empty.
    std::function<void(const QString &reason)> failed = {};
};

// One translator per device family. Each takes the unchanged document text.
void translateGenericD2(TranslationContext &ctx, const QString &document);
void translateQpaMouse(TranslationContext &ctx, const QString &document);
void translateHjeMouse(TranslationContext &ctx, const QString &document);
void translateHfdKeyboard(TranslationContext &ctx, const QString &document);
void translateKeyboardD4(TranslationContext &ctx, const QString &document);
void translateMouseD3(TranslationContext &ctx, const QString &document);
void translateLightSync(TranslationContext &ctx, const QString &document);

// The macro table of the packet keyboard (NoticeMacoModify): the page's Ver and MacroArr.
// True when the whole table reached the device.
bool writeMacroArray(TranslationContext &ctx, const QString &ver, const QString &macroArr);

} // namespace torvanix
