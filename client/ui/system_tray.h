#pragma once

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>

class QAction;
class QMenu;

namespace torvanix {

class DesktopHub;

// The tray icon with its two actions, open and close. Where the desktop has no tray the
// icon simply never appears; the program keeps running.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit SystemTray(QWidget *parent = nullptr);
    ~SystemTray() override;

    QAction *openAction() const { return openAction_; }
    QAction *closeAction() const { return closeAction_; }

    // Shows the battery levels the hub's book holds: the lowest level of the wireless devices
    // over the icon, and per device with a level a tooltip line and a menu entry that opens
    // its page. Follows the book's changes; nothing runs between them.
    void followBattery(DesktopHub &hub);

signals:
    void showWidget();
    void closeApp();
    // The tooltip changed to `text`.
    void toolTipShown(const QString &text);

public slots:
    void doshowWidget();
    void docloseApp();

private:
    void showBattery();

    QMenu *menu_;
    QAction *openAction_;
    QAction *closeAction_;
    QIcon plainIcon_;
    QPointer<DesktopHub> hub_;
    QList<QAction *> deviceActions_;
    QStringList deviceEntries_; // identity and text of each entry, to rebuild only on change
    QString iconKey_;
};

// Our icon with the battery of `level` in its lower right corner: the icon theme's battery
// icon when it has one of `names`, else a gauge drawn here.
QIcon batteryTrayIcon(const QIcon &plain, const QStringList &names, int level, bool low,
                      bool critical);

} // namespace torvanix
