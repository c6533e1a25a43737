// Configuration documents from the page reach every translator; none may crash or hang on any
// text, whatever it asks the (recording) device.
#include "support/recording_device.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include "device/event_sink.h"
#include "device/pacer.h"

#include <QString>
#include <cstdint>

namespace {
struct Silent : torvanix::Pacer {
    void pause(int) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static torvanix::DriverTemplates templates;
    static const bool loaded = templates.loadBuiltIn();
    (void)loaded;
    const QString document =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    using Translator = void (*)(torvanix::TranslationContext &, const QString &);
    static const Translator translators[] = {
        torvanix::translateGenericD2,   torvanix::translateQpaMouse,   torvanix::translateHjeMouse,
        torvanix::translateHfdKeyboard, torvanix::translateKeyboardD4, torvanix::translateMouseD3,
        torvanix::translateLightSync,
    };
    for (Translator translate : translators) {
        torvanix::test::RecordingDeviceOperations ops;
        torvanix::NullEventSink events;
        Silent pacer;
        torvanix::TranslationContext ctx{ops, templates, events, pacer, [](bool) {}};
        translate(ctx, document);
    }
    return 0;
}
