#include "focus_x11.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace torvanix {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

quint32 internAtom(xcb_connection_t *c, const char *name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : 0;
}

// A property's bytes (at most `longs` 32-bit units of it); empty when absent.
QByteArray readProperty(xcb_connection_t *c, quint32 window, quint32 atom, quint32 type,
                        quint32 longs) {
    if (!window || !atom)
        return {};
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, window, atom, type, 0, longs);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

QList<quint32> cardinals(const QByteArray &bytes) {
    QList<quint32> values;
    for (int at = 0; at + 4 <= bytes.size(); at += 4) {
        quint32 value;
        std::memcpy(&value, bytes.constData() + at, 4);
        values << value;
    }
    return values;
}

// WM_CLASS holds the instance and the class, each ending in a NUL.
QPair<QString, QString> wmClass(xcb_connection_t *c, quint32 window) {
    const QList<QByteArray> parts =
        readProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 64).split('\0');
    return {parts.value(0).isEmpty() ? QString() : QString::fromLocal8Bit(parts.value(0)),
            parts.value(1).isEmpty() ? QString() : QString::fromLocal8Bit(parts.value(1))};
}

QString hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(name);
}

// The process's executable name; its command name when the link is not readable (another
// user's process, a kernel that hides it).
QString executableOf(quint32 pid) {
    if (pid == 0)
        return QString();
    const QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (!target.isEmpty()) {
        QString name = QFileInfo(target).fileName();
        if (name.endsWith(QLatin1String(" (deleted)")))
            name.chop(10);
        if (!name.isEmpty())
            return name;
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
    return QString();
}

quint32 firstScreenRoot(xcb_connection_t *c, int screenNumber) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem; xcb_screen_next(&it), ++i) {
        if (i == screenNumber)
            return it.data->root;
    }
    return 0;
}

QStringList listClasses(xcb_connection_t *c, quint32 root, quint32 clientListAtom) {
    QStringList classes;
    for (quint32 window : cardinals(readProperty(c, root, clientListAtom, XCB_ATOM_WINDOW, 4096))) {
        const auto names = wmClass(c, window);
        const QString name = names.second.isEmpty() ? names.first : names.second;
        if (!name.isEmpty() && !classes.contains(name))
            classes << name;
    }
    return classes;
}

} // namespace

X11FocusSource::X11FocusSource(QObject *parent) : QObject(parent) {}

X11FocusSource::~X11FocusSource() {
    stop();
}

bool X11FocusSource::start(QString *why) {
    if (connection_)
        return true;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        if (why)
            *why = QStringLiteral("no X display");
        return false;
    }
    int screen = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        if (why)
            *why = QStringLiteral("the X display %1 cannot be opened")
                       .arg(qEnvironmentVariable("DISPLAY"));
        return false;
    }
    connection_ = c;
    root_ = firstScreenRoot(c, screen);
    activeAtom_ = internAtom(c, "_NET_ACTIVE_WINDOW");
    clientListAtom_ = internAtom(c, "_NET_CLIENT_LIST");
    pidAtom_ = internAtom(c, "_NET_WM_PID");
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    lastWindow_ = 0;
    notifier_ = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11FocusSource::readEvents);
    QTimer::singleShot(0, this, [this] {
        if (connection_)
            reportActive();
    });
    return true;
}

void X11FocusSource::stop() {
    // stop() may run inside the notifier's own signal: it goes once that has returned.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }
    notifier_ = nullptr;
    if (connection_)
        xcb_disconnect(connection_);
    connection_ = nullptr;
    lastWindow_ = 0;
}

void X11FocusSource::readEvents() {
    for (;;) {
        bool activeChanged = false;
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
                if (notify->window == root_ && notify->atom == activeAtom_)
                    activeChanged = true;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection_)) {
            stop();
            emit lost(QStringLiteral("the X display closed the connection"));
            return;
        }
        if (!activeChanged)
            return;
        // Reading the window's properties may queue further events: the loop takes them.
        reportActive();
        if (!connection_)
            return;
    }
}

void X11FocusSource::reportActive() {
    const QList<quint32> active =
        cardinals(readProperty(connection_, root_, activeAtom_, XCB_ATOM_WINDOW, 1));
    const quint32 window = active.value(0);
    if (window == lastWindow_)
        return;
    lastWindow_ = window;
    if (window == 0 || window == XCB_WINDOW_NONE)
        return;
    FocusApplication app;
    const auto names = wmClass(connection_, window);
    app.instance = names.first;
    app.windowClass = names.second;
    // A process id means something only on the machine the window's program runs on.
    const QByteArray machine =
        readProperty(connection_, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 64);
    const QString client = QString::fromLocal8Bit(machine.left(machine.indexOf('\0')));
    if (client.isEmpty() || client == hostName()) {
        const quint32 pid =
            cardinals(readProperty(connection_, window, pidAtom_, XCB_ATOM_CARDINAL, 1)).value(0);
        app.executable = executableOf(pid);
    }
    if (!app.isEmpty())
        emit activeApplication(app);
}

void X11FocusSource::drainSoon() {
    QTimer::singleShot(0, this, [this] {
        if (connection_)
            readEvents();
    });
}

QStringList X11FocusSource::runningApplications() {
    if (connection_) {
        const QStringList classes = listClasses(connection_, root_, clientListAtom_);
        drainSoon();
        return classes;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return {};
    int screen = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen);
    QStringList classes;
    if (!xcb_connection_has_error(c))
        classes = listClasses(c, firstScreenRoot(c, screen), internAtom(c, "_NET_CLIENT_LIST"));
    xcb_disconnect(c);
    return classes;
}

} // namespace torvanix
