#include "system_tray.h"

#include "desktop/battery_policy.h"
#include "desktop/desktop_hub.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

// The icon lives in a static library's resources, which the linker keeps only when asked for.
static void initTrayResource() {
    Q_INIT_RESOURCE(app);
}

namespace torvanix {

namespace {

// A battery outline with its level filled in, for desktops whose icon theme has no battery.
void drawGauge(QPainter &p, const QRectF &box, int level, bool low, bool critical) {
    const qreal u = box.height() / 10;
    const QRectF body(box.left() + u / 2, box.top() + 2 * u, box.width() - 2 * u,
                      box.height() - 4 * u);
    const QRectF tip(body.right(), body.center().y() - 1.5 * u, u, 3 * u);
    // A light rim, so the gauge reads on a dark icon and a dark panel alike.
    p.setPen(QPen(QColor(255, 255, 255, 230), u));
    p.setBrush(QColor(0x24, 0x24, 0x24));
    p.drawRoundedRect(body, u, u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRect(tip);
    const QRectF inner = body.adjusted(1.5 * u, 1.5 * u, -1.5 * u, -1.5 * u);
    p.setBrush(critical ? QColor(0xe0, 0x1b, 0x24)
               : low    ? QColor(0xf6, 0xa1, 0x1b)
                        : QColor(0x33, 0xd1, 0x7a));
    // Never thinner than a sliver, or an almost empty battery would look like no gauge at all.
    const qreal share = qBound(15, level, 100) / 100.0;
    p.drawRect(QRectF(inner.left(), inner.top(), inner.width() * share, inner.height()));
}

} // namespace

QIcon batteryTrayIcon(const QIcon &plain, const QStringList &names, int level, bool low,
                      bool critical) {
    QIcon badge;
    for (const QString &name : names) {
        if (QIcon::hasThemeIcon(name)) {
            badge = QIcon::fromTheme(name);
            break;
        }
    }
    QIcon out;
    for (const int size : {32, 64}) {
        QPixmap canvas(size, size);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawPixmap(canvas.rect(), plain.pixmap(size, size));
        // The lower right corner, large enough to read at tray size.
        const QRect corner(size * 7 / 16, size * 7 / 16, size * 9 / 16, size * 9 / 16);
        if (!badge.isNull())
            badge.paint(&p, corner);
        else
            drawGauge(p, corner, level, low, critical);
        p.end();
        out.addPixmap(canvas);
    }
    return out;
}

SystemTray::SystemTray(QWidget *parent) : QSystemTrayIcon(parent), menu_(new QMenu(parent)) {
    initTrayResource();
    plainIcon_ = QIcon(QStringLiteral(":/image/tray"));
    setIcon(plainIcon_);
    setToolTip(QStringLiteral("Torvanix"));
    openAction_ = menu_->addAction(QStringLiteral("Открыть"));
    closeAction_ = menu_->addAction(QStringLiteral("закрытие"));
    menu_->addSeparator();
    connect(openAction_, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(closeAction_, &QAction::triggered, this, &SystemTray::docloseApp);
    setContextMenu(menu_);
    setVisible(true);
}

SystemTray::~SystemTray() {
    // Without a parent widget the menu is ours to free.
    if (!menu_->parent())
        delete menu_;
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}

void SystemTray::followBattery(DesktopHub &hub) {
    hub_ = &hub;
    DeviceBook &book = hub.book();
    connect(&book, &DeviceBook::deviceAdded, this, &SystemTray::showBattery);
    connect(&book, &DeviceBook::deviceRemoved, this, &SystemTray::showBattery);
    connect(&book, &DeviceBook::deviceChanged, this,
            [this](const BookDevice &, const QStringList &fields) {
                if (fields.contains(QLatin1String("battery")) ||
                    fields.contains(QLatin1String("charging")) ||
                    fields.contains(QLatin1String("connection")) ||
                    fields.contains(QLatin1String("record")))
                    showBattery();
            });
    // The icon's state (caution, low) follows the thresholds of the notices.
    connect(&hub.settings(), &CoreSettings::changed, this, [this](const QString &section) {
        if (section == QLatin1String("battery"))
            showBattery();
    });
    showBattery();
}

void SystemTray::showBattery() {
    if (!hub_)
        return;
    const QList<BookDevice> devices = hub_->book().devices();
    const battery::Thresholds t =
        battery::thresholdsFrom(hub_->settings().section(QStringLiteral("battery")));

    const QString tip = battery::toolTip(devices);
    if (tip != toolTip()) {
        setToolTip(tip);
        emit toolTipShown(tip);
    }

    QString iconKey;
    QStringList names;
    int level = 0;
    if (const BookDevice *lowest = battery::lowestWireless(devices)) {
        level = lowest->battery;
        names = battery::iconNames(level, lowest->charging, t);
        iconKey = names.join(QLatin1Char(' ')) + QStringLiteral(" %1").arg(level);
    }
    if (iconKey != iconKey_) {
        iconKey_ = iconKey;
        setIcon(iconKey.isEmpty() ? plainIcon_
                                  : batteryTrayIcon(plainIcon_, names, level, level <= t.low,
                                                    level <= t.critical));
    }

    QStringList entries;
    for (const BookDevice &d : devices)
        if (battery::hasLevel(d))
            entries << d.identity + QLatin1Char('\n') + battery::menuText(d);
    if (entries == deviceEntries_)
        return;
    deviceEntries_ = entries;
    qDeleteAll(deviceActions_);
    deviceActions_.clear();
    for (const QString &entry : entries) {
        const QString identity = entry.section(QLatin1Char('\n'), 0, 0);
        QAction *action = menu_->addAction(entry.section(QLatin1Char('\n'), 1));
        connect(action, &QAction::triggered, this, [this, identity] {
            if (hub_)
                hub_->showDevice(identity);
        });
        deviceActions_ << action;
    }
}

} // namespace torvanix
