#include "pop_widget.h"

#include "browser/browser_view.h"
#include "browser/client_handler.h"

#include <QEvent>
#include <QResizeEvent>

namespace torvanix {

PopWidget::PopWidget(QWidget *parent, int width, int height, const QString &url)
    : QWidget(parent), url_(url) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint);
    resize(width, height);
    setFocus();
    view_ = new BrowserView(this);
    view_->resize(width, height);
    view_->load(QUrl(url));
    setFocus();
    installEventFilter(this);
}

PopWidget::~PopWidget() = default;

bool PopWidget::eventFilter(QObject *watched, QEvent *event) {
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (ClientHandler *handler = ClientHandler::instance())
            handler->SetMainWindowHandle(this);
        emit activated(this);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PopWidget::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (view_)
        view_->resize(event->size());
}

} // namespace torvanix
