#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QUrl>

#include <optional>

namespace torvanix {

// The page's two window requests, handled by the bridge itself.
bool isMoveWindowRequest(const QString &request);
// The relative move of "MoveWindow<sep>dx,dy,a,b": exactly four integers, else nothing.
std::optional<QPoint> parseMoveWindow(const QString &request);
bool isMinimiseRequest(const QString &request);

// Whether url is one of our own pages: under vendorBase + "/local/", or the loopback's relay
// of a local page asked for under another host.
bool isLocalPageUrl(const QUrl &url, const QString &vendorBase);
// about:blank, about:srcdoc and data: documents: whether they are ours depends on who opened
// them.
bool isInheritingUrl(const QUrl &url);

// The display density step from the logical DPI: 1, 1.25, 1.5, 1.75 or 2. Inline: the core,
// which has no browser, sizes nothing by it but shares the desktop helpers that use it.
inline double dpiScaleFor(double logicalDpi) {
    const double r = logicalDpi / 96.0;
    if (r < 1.1)
        return 1.0;
    if (r < 1.4)
        return 1.25;
    if (r < 1.6)
        return 1.5;
    if (r < 1.8)
        return 1.75;
    return 2.0;
}

// Page zoom for small or dense screens, in the engine's logarithmic levels
// (factor = 1.2^level). Nothing when the current level is to be kept.
std::optional<double> zoomLevelFor(double heightRatio, double density, double currentLevel);
double zoomFactorForLevel(double level);
double zoomLevelForFactor(double factor);

// Where a download goes: an empty result asks the user with a save dialog (macros and
// archives); otherwise the file lands in the program's "update" folder.
QString downloadTarget(const QString &suggestedName, const QString &appFolder);
// Only files served from the vendor endpoint's own origin (scheme, host and port) may land in
// the update folder without asking: whatever lies there is what the update commands work
// with. A data: or blob: URL holds what a page made itself; it counts as coming from the page
// that asked for the download (`initiator`; for blob: the origin written inside it).
bool fromVendorOrigin(const QUrl &url, const QString &vendorBase, const QUrl &initiator = QUrl());

// Where the loopback server fetches what the pack cannot answer: the vendor endpoint, unless
// `configured` (the TORVANIX_UPSTREAM environment variable) names another server for it, such as
// a mirror, a staging server or a test server on loopback. Only "http://host[:port]" is taken,
// and "https://host[:port]" in builds with TORVANIX_HTTPS_UPSTREAM; anything else (another
// scheme, a path, credentials) keeps the vendor endpoint.
QString upstreamEndpoint(const QString &vendorBase, const QString &configured);

// The page shown in place of a frame that failed to load.
QString errorPageHtml(const QString &failedUrl, const QString &errorText, int errorCode);
QString dataUri(const QByteArray &data, const QString &mimeType);
// Chromium's numeric code for a short error name such as "ERR_NAME_NOT_RESOLVED";
// -2 (ERR_FAILED) for names it does not know.
int netErrorCode(const QString &shortName);
constexpr int kAbortedLoad = -3;

} // namespace torvanix
