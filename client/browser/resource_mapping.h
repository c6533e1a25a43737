#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace torvanix {

class ThemePack;

// What the program answers for a page request it serves itself.
struct ResourceAnswer {
    QByteArray body;
    QByteArray mimeType;
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
};

// Where the vendor endpoint and the local files are.
struct ResourceSettings {
    QString vendorBase; // "http://host" without a trailing slash
    QString edition;    // the brand word naming the page tree, "Torvanix"
    QString themeRoot;  // program folder + "/theme"
    QString appFolder;  // program folder
    // Where the program writes its own files, screen pictures among them (the program folder
    // when it is writable, else the user's data folder); empty: the program folder.
    QString dataFolder;
    QString portalUrl; // outside portal that "live.html" pages are sent to
};

// The URL -> response decision for page requests. Pure apart from the pack it reads and
// the keyboard-screen pictures it loads from the data and program folders; thread-safe for
// readers.
class ResourceMapper {
public:
    ResourceMapper(ResourceSettings settings, const ThemePack *pack);

    // Local prefix: vendor base + "/local/". Its length is how much of every local URL is cut
    // to get the entry path.
    QString localPrefix() const { return settings_.vendorBase + QStringLiteral("/local/"); }
    QString startUrl() const;

    // The answer for url, or nothing when the request goes to the network.
    std::optional<ResourceAnswer> map(const QString &url) const;

    // The redirect the response hook applies (fonts to the vendor's icon font, "live.html"
    // to the portal), or nothing. Never redirects a URL to itself.
    std::optional<QString> redirectFor(const QString &url) const;

    const ResourceSettings &settings() const { return settings_; }

private:
    std::optional<ResourceAnswer> screenImage(const QString &path) const;

    ResourceSettings settings_;
    const ThemePack *pack_;
};

} // namespace torvanix
