#pragma once

#include <QString>

namespace torvanix {

struct TranslationContext;

// The D2.0 translators (declared in translation_context.h) and how they settle the points
// their documents leave open:
//
// translateGenericD2
//  - Tests its expressions in a fixed order and handles only the first match. The
//    MoveLightSwitch setting is tested before the general key assignment ("key with action
//    set"), which would otherwise take the switch for a key and write a 15-byte key record
//    over the switch's register.
//  - DPI / report-rate query: after each 0x05 query write the answer is read as one 64-byte
//    HID input report (DeviceOperations::readInputReport, 100 ms); byte 1 is the value. When no
//    report arrives the document keeps the `current` level and the Reportrate value it came
//    with; the answer is still sent.
//  - GlobalPerformance: a value that is not a JSON array writes nothing.
//  - DPI set: when the document has no key for the `current` level only the level selector is
//    written (no eight-byte record at an empty address).
//  - In all three translators an element without an address (`index`) writes nothing: the empty
//    text would read as register 0 and overwrite it.
//  - Screen images: see d2_screen.h.
//
// translateQpaMouse
//  - "key with action set": a key carrying a `type` is a key assignment (mouse record written
//    with the QPA write entry), any other key a plain setting (`value` at `index` with
//    `length`, plain write).
//  - Macro slot search: the twenty macro slots are the registers 181 .. 200. Slot s is free when
//    isAreaBlank(identity, 181 + s, 15) holds; slots are checked in order with 50 ms between
//    checks and the first free one is used. When none is free all twenty are cleared
//    (clearArea, 15 bytes each) and slot 181 is used. The slot register goes into the macro
//    header "0x04,<step bytes>,<slot>,0x00".
//  - Lighting: effect selection and preset keys as the generic translator; the per-key colour
//    table ("LightUp") with the QPA write entry at 201, then 0xdc at 6.
//  - Nothing is sent to the page after a key assignment.
//
// translateHjeMouse
//  - Keys are written per profile at slot = index + 6 * (profile - 1); a document without a
//    usable CurProfile (missing, 0, negative) counts as profile 1 instead of writing below the
//    key's own slot.

// One key record of the D2.0 mouse families (QPA-RTE, HJE-XAV), written at `slot` with write
// property:
//   0x01, playtype, count, 0, 0, 0x00, 0x00 x5, <code>  (fifteen items)
// The code is the D2.0 function code of type/task; a mouse function is written with zeros for
// playtype, count and the rest. Type "MACRO" carries "0x04,<step bytes>,<macro slot>,0x00" and
// its step bytes (more than 255 step bytes: the count's low byte, and its high byte in place of
// the last 0x00), type "MACROS" "0x04,<steps high>,<steps low>,<macro slot>"; the macro slot is
// slot + profile + 89. An empty task clears the slot (fifteen "0x00"). `repeatDelay` and `flag`
// are carried for the page's signature and not written. Returns the write result.
bool writeKeyRecord(TranslationContext &ctx, const QString &identity, const QString &slot,
                    const QString &profile, const QString &playtype, const QString &playcount,
                    const QString &type, const QString &task, const QString &repeatDelay,
                    const QString &flag);

} // namespace torvanix
