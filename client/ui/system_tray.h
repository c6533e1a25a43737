#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

namespace torvanix {

// The tray icon with its two actions, open and close. Where the desktop has no tray the
// icon simply never appears; the program keeps running.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit SystemTray(QWidget *parent = nullptr);
    ~SystemTray() override;

    QAction *openAction() const { return openAction_; }
    QAction *closeAction() const { return closeAction_; }

signals:
    void showWidget();
    void closeApp();

public slots:
    void doshowWidget();
    void docloseApp();

private:
    QMenu *menu_;
    QAction *openAction_;
    QAction *closeAction_;
};

} // namespace torvanix
