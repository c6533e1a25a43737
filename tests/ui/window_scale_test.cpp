// The window and its page on a 144 DPI screen (the test runs with QT_FONT_DPI=144): the page
// renders at the screen's device scale, the zoom rule applies on top, and the window is kept
// on the (small) test screen.
#include "../browser/engine_harness.h"

#include "browser/browser_rules.h"
#include "ui/desktop_services.h"
#include "ui/window.h"

#include <QScreen>
#include <QWindow>

using namespace torvanix;
using namespace torvanix::testing;

namespace {
// Before the application object exists, as the program does it.
const bool kHighDpi = [] {
    configureHighDpi();
    return true;
}();
} // namespace

TEST(WindowScale, PagesRenderAtTheDeviceScaleWithTheZoomRuleOnTop) {
    EngineHarness &harness = EngineHarness::get();
    Window window;
    window.setTrayAvailableCheck([] { return true; });
    window.show();
    QScreen *screen = window.windowHandle()->screen();
    const double ratio = screen->devicePixelRatio();
    ASSERT_NEAR(ratio, 1.5, 0.01) << "QT_FONT_DPI=144 gives a device scale of 1.5";
    EXPECT_EQ(window.dpiScale(), 1.5);

    // Kept on the screen, with the page's aspect.
    EXPECT_TRUE(screen->availableGeometry().contains(window.geometry()));
    EXPECT_NEAR(double(window.width()) / window.height(), 1.5, 0.01);

    ASSERT_TRUE(loadAndWait(window.view(), harness.page("plain.html")));
    const double heightRatio = screen->size().height() * ratio / 1080.0;
    const auto level = zoomLevelFor(heightRatio, 1.5, 0);
    const double zoom = level ? zoomFactorForLevel(*level) : 1.0;
    EXPECT_NEAR(window.view()->page()->zoomFactor(), zoom, 1e-6);
    // The engine's own scale: device pixels per CSS pixel (24% too small at scale 1 before).
    EXPECT_NEAR(runJs(window.view()->page(), "window.devicePixelRatio").toDouble(), ratio * zoom,
                0.02);
    // The page is as large as the window.
    EXPECT_NEAR(
        runJs(window.view()->page(), "window.innerWidth * window.devicePixelRatio").toDouble(),
        window.view()->width() * ratio, 3);
}
