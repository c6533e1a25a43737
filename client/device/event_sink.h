#pragma once

#include <QString>
#include <QVariantList>

namespace torvanix {

// Where named page events go ("OnNotifySaveXml", "RefreshUpdateState", ...). The browser host
// delivers them into the page; the command-line tool prints them; tests collect them.
// Implementations must accept calls from any thread.
class EventSink {
public:
    virtual ~EventSink() = default;
    // args hold QString or int values, in the order the event defines.
    virtual void sendEvent(const QString &name, const QVariantList &args) = 0;
};

// Event names the page registers callbacks for.
namespace events {
inline const char *const DevicesChanged = "DevicesChanged";
inline const char *const OnDeviceData = "OnDeviceData";
inline const char *const OnNotifySaveXml = "OnNotifySaveXml";
inline const char *const RefreshUpdateState = "RefreshUpdateState";
inline const char *const RefreshDownState = "RefreshDownState";
inline const char *const OnRGBMusicData = "OnRGBMusicData";
inline const char *const HotKeyMsg = "HotKeyMsg";
} // namespace events

// Swallows everything; for code paths that run without a page.
class NullEventSink : public EventSink {
public:
    void sendEvent(const QString &, const QVariantList &) override {}
};

} // namespace torvanix
