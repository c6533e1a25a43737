#pragma once

#include <QString>
#include <QWidget>

namespace torvanix {

class BrowserView;

// A smaller always-on-top window with its own browser view, opened by the page.
class PopWidget : public QWidget {
    Q_OBJECT
public:
    PopWidget(QWidget *parent, int width, int height, const QString &url);
    ~PopWidget() override;

    QString url() const { return url_; }
    BrowserView *view() const { return view_; }

signals:
    // The pop-up became the active window.
    void activated(torvanix::PopWidget *self);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QString url_;
    BrowserView *view_;
};

} // namespace torvanix
