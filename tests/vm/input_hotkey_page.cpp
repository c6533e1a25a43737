// Run inside the test VM: the window of the edition with the input filter, its real browser
// view and a hot-key page opened as the page opens it (OpenView). A key released on a kernel
// keyboard made through uinput reaches the hot-key page as "HotKeyMsg", and not the main page.
#include "../browser/engine_harness.h"

#include "device/input_filter.h"
#include "ui/pop_widget.h"
#include "ui/window.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

using namespace torvanix;
using namespace torvanix::testing;

namespace {

// The guest's CPU is emulated: the browser needs tens of seconds where a real machine needs
// one.
constexpr int kSlow = 180000;

libevdev_uinput *makeKeyboard() {
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "Page Probe Keyboard");
    libevdev_set_id_bustype(dev, BUS_USB);
    libevdev_set_id_vendor(dev, 0x1d57);
    libevdev_set_id_product(dev, 0xfa11);
    libevdev_enable_event_type(dev, EV_KEY);
    for (int key : {KEY_A, KEY_F1, KEY_F11, KEY_CAPSLOCK})
        libevdev_enable_event_code(dev, EV_KEY, key, nullptr);
    libevdev_uinput *ui = nullptr;
    if (libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &ui) < 0)
        ui = nullptr;
    libevdev_free(dev);
    return ui;
}

void stroke(libevdev_uinput *ui, int key) {
    for (int value : {1, 0}) {
        libevdev_uinput_write_event(ui, EV_KEY, key, value);
        libevdev_uinput_write_event(ui, EV_SYN, SYN_REPORT, 0);
    }
}

} // namespace

TEST(HotKeyPage, AKernelKeyboardsHotKeyReachesOnlyTheHotKeyPage) {
    EngineHarness &harness = EngineHarness::get();
    libevdev_uinput *keyboard = makeKeyboard();
    ASSERT_NE(keyboard, nullptr);
    const QString node = QString::fromUtf8(libevdev_uinput_get_devnode(keyboard));
    {
        Window window(QStringLiteral("Zemlox"));
        window.show();
        ASSERT_NE(window.inputFilter(), nullptr);
        ASSERT_TRUE(waitFor([&] { return window.inputFilter()->watchedNodes().contains(node); }));
        ASSERT_TRUE(loadAndWait(window.view(), harness.page("plain.html"), kSlow));
        window.openView(harness.page("quick_set.html").toString(), 300, 200);
        ASSERT_EQ(window.popViews().size(), 1);
        PopWidget *quick = window.popViews().first();
        ASSERT_TRUE(waitFor(
            [&] {
                return harness.handler()
                           .registry()
                           .targets("quick_set.html")
                           .contains(quick->view()->browserPage()->pageId()) &&
                       harness.handler().registry().targets().contains(
                           window.view()->browserPage()->pageId());
            },
            kSlow));
        runJs(quick->view()->page(), "setMessageCallback('HotKeyMsg', rec('quick'))", kSlow);
        runJs(window.view()->page(), "setMessageCallback('HotKeyMsg', rec('main'))", kSlow);

        stroke(keyboard, KEY_F1);
        stroke(keyboard, KEY_A);
        stroke(keyboard, KEY_CAPSLOCK);
        EXPECT_TRUE(waitFor(
            [&] {
                return runJs(quick->view()->page(), "JSON.stringify(__events)", kSlow).toString() ==
                       R"([["quick",["F1"]],["quick",["F12"]]])";
            },
            kSlow))
            << runJs(quick->view()->page(), "JSON.stringify(__events)").toString().toStdString();
        EXPECT_EQ(runJs(window.view()->page(), "JSON.stringify(__events)", kSlow).toString(), "[]");
    }
    libevdev_uinput_destroy(keyboard);
}
