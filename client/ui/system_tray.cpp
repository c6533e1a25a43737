#include "system_tray.h"

#include <QAction>
#include <QMenu>

// The icon lives in a static library's resources, which the linker keeps only when asked for.
static void initTrayResource() {
    Q_INIT_RESOURCE(app);
}

namespace torvanix {

SystemTray::SystemTray(QWidget *parent) : QSystemTrayIcon(parent), menu_(new QMenu(parent)) {
    initTrayResource();
    setIcon(QIcon(QStringLiteral(":/image/tray")));
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

} // namespace torvanix
