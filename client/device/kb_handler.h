#pragma once

#include "device_operations.h"
#include "library_loader.h"

#include <cstdint>
#include <functional>

namespace torvanix {

// The keyboard access library's entries. Empty callables are entries the library lacks.
struct KeyboardLibraryTable {
    std::function<int(int vendor, int product)> SetHardwareInfo;
    std::function<int(void *window)> InitDevice;
    std::function<int(int, int, int, int, int packedColour)> SetLED;
    std::function<int(int key, int r, int g, int b)> SetKeyColor;
    std::function<int(uint8_t *block, int length)> SetMacro;
    std::function<int(int32_t *table, int length)> SetKey;
    std::function<int(int, int, int, int, int)> new_key_action;
    std::function<void(int)> SetDebug;
    std::function<int()> UnInitDevice;

    // Usable only when every entry but SetDebug is there.
    bool usable() const;
};

KeyboardLibraryTable resolveKeyboardLibrary(const EntryResolver &resolve);

// Feeds the keyboard that is driven through its own access library (identity "05AC024F").
// The library is loaded afresh for every call, so a library that appears or goes away while
// the program runs is noticed; loading an already loaded library only takes a reference.
class kb_handler : public KeyboardLibrary {
public:
    // Loads the library from the devices directory on each use.
    kb_handler();
    // Calls `loader` on each use instead (tests record the tables passed).
    explicit kb_handler(std::function<KeyboardLibraryTable()> loader);

    bool probeDevice() override;
    bool setKey(const QString &type, int keyIndex, const QString &value) override;
    bool setKeyColor(int key, int c1, int c2, int c3) override;
    bool setLed(int a, int b, int c, int d, int e, int f, int g) override;
    bool setMacro(const QByteArray &block4096) override;
    int newKeyAction(const QString &key, int p2, int p3, int p4, int p5) override;

private:
    KeyboardLibraryTable load() const;

    std::function<KeyboardLibraryTable()> loader_;
};

} // namespace torvanix
