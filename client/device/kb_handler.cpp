#include "kb_handler.h"

#include "library_tables.h"

#include <QLibrary>
#include <cstring>

namespace torvanix {

bool KeyboardLibraryTable::usable() const {
    return SetHardwareInfo && InitDevice && SetLED && SetKeyColor && SetMacro && SetKey &&
           new_key_action && UnInitDevice;
}

KeyboardLibraryTable resolveKeyboardLibrary(const EntryResolver &resolve) {
    KeyboardLibraryTable t;
    t.SetHardwareInfo = resolveEntry<int(int, int)>(resolve, "SetHardwareInfo");
    t.InitDevice = resolveEntry<int(void *)>(resolve, "InitDevice");
    t.SetLED = resolveEntry<int(int, int, int, int, int)>(resolve, "SetLED");
    t.SetKeyColor = resolveEntry<int(int, int, int, int)>(resolve, "SetKeyColor");
    t.SetMacro = resolveEntry<int(uint8_t *, int)>(resolve, "SetMacro");
    t.SetKey = resolveEntry<int(int32_t *, int)>(resolve, "SetKey");
    t.new_key_action = resolveEntry<int(int, int, int, int, int)>(resolve, "new_key_action");
    t.SetDebug = resolveEntry<void(int)>(resolve, "SetDebug");
    t.UnInitDevice = resolveEntry<int()>(resolve, "UnInitDevice");
    return t;
}

kb_handler::kb_handler()
    : loader_([] {
          // The handle stays open: the library keeps the device state of the last
          // SetHardwareInfo/InitDevice between calls.
          QLibrary library;
          if (!loadDeviceLibrary(library, QStringLiteral("KBAccess")))
              return KeyboardLibraryTable{};
          return resolveKeyboardLibrary(
              [&library](const char *name) { return library.resolve(name); });
      }) {}

kb_handler::kb_handler(std::function<KeyboardLibraryTable()> loader) : loader_(std::move(loader)) {}

KeyboardLibraryTable kb_handler::load() const {
    return loader_ ? loader_() : KeyboardLibraryTable{};
}

bool kb_handler::probeDevice() {
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return false;
    t.SetHardwareInfo(0x05AC, 0x024F);
    return t.InitDevice(mainWindowHandle()) != 0;
}

bool kb_handler::setKey(const QString &type, int keyIndex, const QString &value) {
    if (value.isEmpty() || keyIndex < 0 || keyIndex >= kKeyTableEntries)
        return false;
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return false;
    int32_t table[kKeyTableEntries] = {};
    table[keyIndex] = keyboardKeyEntry(type, value);
    t.SetKey(table, kKeyTableBytes);
    return true;
}

bool kb_handler::setKeyColor(int key, int c1, int c2, int c3) {
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return false;
    t.SetKeyColor(key, c3, c1, c2);
    return true;
}

bool kb_handler::setLed(int a, int b, int c, int d, int e, int f, int g) {
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return false;
    t.SetLED(a, b, c, d, keyboardLedColour(e, f, g));
    return true;
}

bool kb_handler::setMacro(const QByteArray &block4096) {
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return false;
    // Always a full block: a shorter one is padded with zeros, a longer one cut.
    uint8_t block[kMacroBlockSize] = {};
    std::memcpy(block, block4096.constData(), size_t(qMin(block4096.size(), kMacroBlockSize)));
    return t.SetMacro(block, kMacroBlockSize) != 0;
}

int kb_handler::newKeyAction(const QString &key, int p2, int p3, int p4, int p5) {
    const KeyboardLibraryTable t = load();
    if (!t.usable())
        return 0;
    bool ok = false;
    const int keyCode = key.trimmed().toInt(&ok, 10);
    return t.new_key_action(ok ? keyCode : 0, p2, p3, p4, p5);
}

} // namespace torvanix
