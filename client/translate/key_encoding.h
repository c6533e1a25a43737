#pragma once

#include <QString>
#include <QStringList>

namespace pugi {
class xml_node;
}

namespace torvanix {

class DriverTemplate;

// Function codes: the CommandString fragment that a key record carries for an assigned
// function ("0x01,0x01,0x00,0x00" for a left click). The type is compared upper-cased:
//   MOUSE, MACROFUN, MEDIA  the task's template Code
//   HOTKEY, KEYBOARD        "0x02,<modifier byte>,<key usage>,0" from a "+" combination
//   MACRO                   the macro's step bytes (see macro_steps.h)
//   DPI                     "mode,xl,xh,yl,yh,0x00,0x00,0x00" from "mode|x|y" (steps of 50)
//   END, MPT, TGL, MT, DKS  keyboard special functions 0x09, 0x08, 0x07, 0x06, 0x05
// Any other type gives the empty text. A task the template lacks gives an empty item.
//
// Item layouts of the keyboard special functions (header "0x0N,0x00,0x00,0x00," first):
//   END   the Code of the task.
//   MPT, TGL, MT  "a-b|c-d|e-f" -> a,b,c,d,e,f: the "-" items of the "|" groups in order,
//         six items (missing ones "0x00", further ones ignored).
//   DKS   "n|k1-k2-k3-k4|f1|f2|f3|f4": n the travel number, then the keys (usages looked up
//         like hot-key parts) and four flag lists, each item in the order given; nine items in
//         all for the full form.
// In these items "ET" is an empty slot and becomes "0x00"; other numbers are decimal and
// written in hexadecimal.
//
// `identity` is the translation's device identity; it does not change the encoding (the
// macro slot search of the QPA mouse uses the translation's own identity).
QString encodeKeyFunction(const DriverTemplate &tmpl, const QString &identity, const QString &type,
                          const QString &task);

// The same for the keyboard driven through its access library (D4.0 table). Differences:
//   MOUSE, MACROFUN, MEDIA  the row's vkCode where the row carries one, else its Code;
//   HOTKEY, KEYBOARD        "0x02,<modifier vk>,<key usage>,0": the library takes one modifier
//                           as its virtual-key code (Ctrl 17, Shift 16, Alt 18, Win 91 in the
//                           table), so the first modifier word of the combination is looked up
//                           by vkCode as the table spells it ("Ctrl"), "0" without one; the key
//                           is its usage Code (looked up as written, then upper-cased) written
//                           in decimal, the way the library reads both items ("0x02,18,61,0"
//                           for Alt+F4).
// Every other type encodes as encodeKeyFunction does.
QString encodeKeyFunctionD4(const DriverTemplate &tmpl, const QString &identity,
                            const QString &type, const QString &task);

// A 16-bit number as two byte texts, low first: the hexadecimal text of n, and when n > 255
// its last two digits as the low byte and the digits before them as the high byte, else the
// text itself and "0x00". splitWord(32) = {"20", "0x00"}, splitWord(300) = {"2c", "1"}.
// Beyond 0xFFF the high byte keeps all leading digits ({"34", "12"} for 0x1234) instead of
// only the first one, which would drop bits.
QStringList splitWord(int n);

// A flag list "f0,f1,...,f7" ("0"/"1", decimal) to one byte in hexadecimal without prefix:
// flag i sets bit i (f0 = 0x01 ... f7 = 0x80). Items beyond the eighth are ignored; a missing
// or malformed item counts as 0.
QString modifierMask(const QString &flags);

// Whether a combination part or macro argument is one of the modifier words "Ctrl", "Alt",
// "Shift", "Win", in any case ("CTRL" too: it must not land on the table's modifier-bit row
// "1", which the hot-key code does not count as a modifier).
bool isModifierWord(const QString &part);
// A modifier word -> "LCTRL", "LALT", "LSHIFT", "LWIN"; any other part upper-cased: the D2.0
// spelling of one part of a key combination.
QString hotKeyPartTask(const QString &part);
// Splits a combination at "+"; a trailing "+" after a "+" names the plus key itself
// ("Ctrl++" -> "Ctrl", "+"; "+" alone -> "+").
QStringList splitCombination(const QString &task);

// ---- D2.0 key records (fifteen bytes at a key's slot) ----------------------------------------

// The attributes of a key element that a key record reads.
struct KeyAssignment {
    QString type, task;
    QString playtype, playcount, playdelay;
    QString burttonroute, dynamicroutedown, dynamicrouteup;
    static KeyAssignment fromNode(const pugi::xml_node &key);
};

// The generic D2.0 key record:
//   0x01, playtype, count, delay low, delay high, 0, route, 0x00, 0x00, down, up, <code>
// with the code from encodeKeyFunction ("0,0,0,0" when empty). A mouse function (code starting
// "0x01") carries zeros for delay and routes. Type "Macro" (written exactly so) takes playtype,
// delay and count from the task after ":" and carries "0x04,b5,<count low>,<count high>" with
// the number of step items (high byte "0x00" up to 255 items), then its step bytes (the text's
// trailing comma dropped), so the record is 15 + steps items long.
QString buildD2KeyRecord(const DriverTemplate &tmpl, const QString &identity,
                         const KeyAssignment &key);

// Route configuration ("conf") and route end ("over") records, fifteen items each.
QString d2RouteConfRecord(const QString &burttonroute, const QString &dynamicroutedown,
                          const QString &dynamicrouteup);
QString d2RouteOverRecord();

// The D2.0 mouse record of the QPA and HJE families:
//   0x01, playtype (as written), count, 0, 0, 0x00, 0x00 x5, <code>
// filled with 0, 0, 0, 0, "0x00" for a mouse function (code starting "0x01"). `code` is the
// function code, or a macro header followed by its step bytes.
QString buildD2MouseRecord(const QString &playtype, const QString &playcount, const QString &code);

} // namespace torvanix
