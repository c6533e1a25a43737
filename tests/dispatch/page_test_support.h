#pragma once

#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"
#include "dispatch/headless_window_actions.h"
#include "dispatch/page_commands.h"

#include <QMutex>
#include <QPair>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
inline std::ostream &operator<<(std::ostream &os, const QString &s) {
    return os << s.toStdString();
}
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &l, std::ostream *os) {
    *os << '[' << l.join(QStringLiteral("|")).toStdString() << ']';
}
QT_END_NAMESPACE

namespace torvanix::test {

struct Answer {
    enum Kind { None, Success, Failure } kind = None;
    int code = -1;
    QString text;
    int count = 0; // answers given (the channel must see one at most)
};

class RecordingReply : public Reply {
public:
    void success(const QString &text) override { set(Answer::Success, 0, text); }
    void failure(int code, const QString &text) override { set(Answer::Failure, code, text); }
    Answer answer() const {
        QMutexLocker lock(&mutex_);
        return answer_;
    }

private:
    void set(Answer::Kind kind, int code, const QString &text) {
        QMutexLocker lock(&mutex_);
        if (answer_.count++ == 0) {
            answer_.kind = kind;
            answer_.code = code;
            answer_.text = text;
        }
    }
    mutable QMutex mutex_;
    Answer answer_;
};

class RecordingEvents : public EventSink {
public:
    void sendEvent(const QString &name, const QVariantList &args) override {
        QMutexLocker lock(&mutex_);
        events_.append({name, args});
    }
    QList<QPair<QString, QVariantList>> events() const {
        QMutexLocker lock(&mutex_);
        return events_;
    }
    // The first argument of every event of that name, as text.
    QStringList texts(const QString &name) const {
        QStringList out;
        for (const auto &e : events())
            if (e.first == name)
                out << e.second.value(0).toString();
        return out;
    }

private:
    mutable QMutex mutex_;
    QList<QPair<QString, QVariantList>> events_;
};

// A dispatcher with the page commands over a temporary program folder.
struct PageFixture {
    explicit PageFixture(PageServices services = {}, QStringList choices = {})
        : actions(std::move(choices)) {
        if (services.programDir.isEmpty())
            services.programDir = programDir.path();
        if (services.desktopDir.isEmpty())
            services.desktopDir = programDir.path();
        page = registerPageCommands(dispatcher, actions, events, std::move(services));
    }

    // Sends one query and waits for the command and what it started.
    Answer call(const QString &json) {
        auto reply = std::make_shared<RecordingReply>();
        dispatcher.onJsMessage(json, reply);
        page->waitForIdleProcessingEvents(60000);
        return reply->answer();
    }
    std::shared_ptr<RecordingReply> send(const QString &json) {
        auto reply = std::make_shared<RecordingReply>();
        dispatcher.onJsMessage(json, reply);
        return reply;
    }
    void choose(const QStringList &) = delete;

    QTemporaryDir programDir;
    HeadlessWindowActions actions;
    RecordingEvents events;
    CommandDispatcher dispatcher;
    std::shared_ptr<PageCommands> page;
};

} // namespace torvanix::test
