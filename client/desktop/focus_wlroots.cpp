#include "focus_wlroots.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace torvanix {

namespace {
// The newest version whose events this side knows (3 added "parent").
constexpr uint32_t kManagerVersion = 3;

struct Toplevel {
    WlrootsFocusSource::State *state = nullptr;
    zwlr_foreign_toplevel_handle_v1 *handle = nullptr;
    QString appId;
    bool activated = false;
    // Properties change in batches closed by "done"; until then they are pending.
    QString pendingAppId;
    bool pendingActivated = false;
};
} // namespace

struct WlrootsFocusSource::State {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    zwlr_foreign_toplevel_manager_v1 *manager = nullptr;
    uint32_t managerName = 0;
    uint32_t managerVersion = 0;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    Toplevel *active = nullptr;
    bool activeChanged = false;
    bool finished = false;
    bool prepared = false;

    ~State() {
        if (prepared)
            wl_display_cancel_read(display);
        for (auto &toplevel : toplevels)
            zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
        toplevels.clear();
        if (manager) {
            zwlr_foreign_toplevel_manager_v1_stop(manager);
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
        if (registry)
            wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }
};

namespace {

using State = WlrootsFocusSource::State;

void onTitle(void *, zwlr_foreign_toplevel_handle_v1 *, const char *) {}
void onAppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *appId) {
    static_cast<Toplevel *>(data)->pendingAppId = QString::fromUtf8(appId);
}
void onOutput(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
void onState(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *states) {
    auto *toplevel = static_cast<Toplevel *>(data);
    toplevel->pendingActivated = false;
    const auto *values = static_cast<const uint32_t *>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
        if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            toplevel->pendingActivated = true;
    }
}
void onDone(void *data, zwlr_foreign_toplevel_handle_v1 *) {
    auto *toplevel = static_cast<Toplevel *>(data);
    State *state = toplevel->state;
    const bool idChanged = toplevel->appId != toplevel->pendingAppId;
    toplevel->appId = toplevel->pendingAppId;
    toplevel->activated = toplevel->pendingActivated;
    if (toplevel->activated && (state->active != toplevel || idChanged)) {
        state->active = toplevel;
        state->activeChanged = true;
    } else if (!toplevel->activated && state->active == toplevel) {
        state->active = nullptr;
    }
}
void onClosed(void *data, zwlr_foreign_toplevel_handle_v1 *) {
    auto *toplevel = static_cast<Toplevel *>(data);
    State *state = toplevel->state;
    if (state->active == toplevel)
        state->active = nullptr;
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    for (auto it = state->toplevels.begin(); it != state->toplevels.end(); ++it) {
        if (it->get() == toplevel) {
            state->toplevels.erase(it);
            break;
        }
    }
}
void onParent(void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) {}

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent,
};

void onToplevel(void *data, zwlr_foreign_toplevel_manager_v1 *,
                zwlr_foreign_toplevel_handle_v1 *handle) {
    auto *state = static_cast<State *>(data);
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->state = state;
    toplevel->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, toplevel.get());
    state->toplevels.push_back(std::move(toplevel));
}
void onFinished(void *data, zwlr_foreign_toplevel_manager_v1 *) {
    static_cast<State *>(data)->finished = true;
}

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {onToplevel, onFinished};

void onGlobal(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
    auto *state = static_cast<State *>(data);
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        state->managerName = name;
        state->managerVersion = version;
    }
}
void onGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

} // namespace

WlrootsFocusSource::WlrootsFocusSource(QObject *parent) : QObject(parent) {}

WlrootsFocusSource::~WlrootsFocusSource() {
    stop();
}

bool WlrootsFocusSource::running() const {
    return state_ != nullptr;
}

bool WlrootsFocusSource::start(QString *why) {
    if (state_)
        return true;
    auto fail = [&](const QString &text) {
        stop();
        if (why)
            *why = text;
        return false;
    };
    // Without it the library would try "wayland-0" on its own.
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_SOCKET"))
        return fail(QStringLiteral("no Wayland display"));
    state_ = std::make_unique<State>();
    state_->display = wl_display_connect(nullptr);
    if (!state_->display)
        return fail(QStringLiteral("the Wayland display %1 cannot be opened")
                        .arg(qEnvironmentVariable("WAYLAND_DISPLAY")));
    state_->registry = wl_display_get_registry(state_->display);
    wl_registry_add_listener(state_->registry, &kRegistryListener, state_.get());
    if (wl_display_roundtrip(state_->display) < 0)
        return fail(QStringLiteral("the Wayland compositor closed the connection"));
    if (!state_->managerName)
        return fail(QStringLiteral("the Wayland compositor does not list its windows"));
    state_->manager = static_cast<zwlr_foreign_toplevel_manager_v1 *>(wl_registry_bind(
        state_->registry, state_->managerName, &zwlr_foreign_toplevel_manager_v1_interface,
        qMin(state_->managerVersion, kManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(state_->manager, &kManagerListener, state_.get());
    // The compositor sends every window and its properties right after the bind.
    if (wl_display_roundtrip(state_->display) < 0)
        return fail(QStringLiteral("the Wayland compositor closed the connection"));
    if (!prepare())
        return fail(QStringLiteral("the Wayland compositor closed the connection"));
    notifier_ =
        new QSocketNotifier(wl_display_get_fd(state_->display), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WlrootsFocusSource::readEvents);
    state_->activeChanged = false;
    QTimer::singleShot(0, this, [this] {
        if (state_)
            reportActive();
    });
    return true;
}

void WlrootsFocusSource::stop() {
    // stop() may run inside the notifier's own signal: it goes once that has returned.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }
    notifier_ = nullptr;
    state_.reset();
}

// Queued events are handed out first; then the socket may be read by the notifier.
bool WlrootsFocusSource::prepare() {
    wl_display *display = state_->display;
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    state_->prepared = true;
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        state_->prepared = false;
        return false;
    }
    return true;
}

void WlrootsFocusSource::readEvents() {
    if (!state_)
        return;
    bool ok = true;
    if (state_->prepared) {
        state_->prepared = false;
        ok = wl_display_read_events(state_->display) >= 0;
    }
    ok = ok && wl_display_dispatch_pending(state_->display) >= 0 && prepare();
    if (!ok || state_->finished) {
        stop();
        emit lost(QStringLiteral("the Wayland compositor closed the connection"));
        return;
    }
    if (state_->activeChanged) {
        state_->activeChanged = false;
        reportActive();
    }
}

void WlrootsFocusSource::reportActive() {
    if (!state_->active)
        return;
    FocusApplication app;
    app.appId = state_->active->appId;
    if (!app.isEmpty())
        emit activeApplication(app);
}

QStringList WlrootsFocusSource::runningApplications() {
    if (!state_) {
        WlrootsFocusSource once;
        return once.start() ? once.runningApplications() : QStringList();
    }
    QStringList ids;
    for (const auto &toplevel : state_->toplevels) {
        if (!toplevel->appId.isEmpty() && !ids.contains(toplevel->appId))
            ids << toplevel->appId;
    }
    return ids;
}

} // namespace torvanix
