#include "device_data_handler.h"

#include "d2_translators.h"
#include "device/device_operations.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/pacer.h"
#include "translate_xml.h"
#include "translation_context.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QMutexLocker>
#include <QRunnable>
#include <QThreadPool>

namespace torvanix {

namespace {

class FunctionTask : public QRunnable {
public:
    explicit FunctionTask(std::function<void()> fn) : fn_(std::move(fn)) { setAutoDelete(true); }
    void run() override { fn_(); }

private:
    std::function<void()> fn_;
};

using Translator = void (*)(TranslationContext &, const QString &);

Translator translatorFor(const QString &id) {
    if (id == QLatin1String("0C458075"))
        return translateHfdKeyboard;
    if (id == QLatin1String("05AC024F"))
        return translateKeyboardD4;
    if (id == QLatin1String("258A002E"))
        return translateMouseD3;
    if (id == QLatin1String("SYNC"))
        return translateLightSync;
    if (id == QLatin1String("HJE-XAV-V1.2.0") || id == QLatin1String("HJE-XAV-V1.1.0"))
        return translateHjeMouse;
    if (id == QLatin1String("QPA-RTE-V1.1.0"))
        return translateQpaMouse;
    return translateGenericD2;
}

// Hands the page its events as before and keeps a copy for the document's sender.
class RecordingSink : public EventSink {
public:
    explicit RecordingSink(EventSink &page) : page_(page) {}
    void sendEvent(const QString &name, const QVariantList &args) override {
        page_.sendEvent(name, args);
        QMutexLocker lock(&mutex_);
        events_.append(qMakePair(name, args));
    }
    QList<QPair<QString, QVariantList>> events() const {
        QMutexLocker lock(&mutex_);
        return events_;
    }

private:
    EventSink &page_;
    mutable QMutex mutex_;
    QList<QPair<QString, QVariantList>> events_;
};

} // namespace

device_data_handler::device_data_handler(DeviceOperations &ops, EventSink &events, QObject *parent)
    : QObject(parent), ops_(ops), events_(events) {}

device_data_handler::~device_data_handler() {
    waitForDone();
}

bool device_data_handler::loadDriverTemplate(const QString &resourcePath) {
    return templates_.loadDriverTemplate(resourcePath);
}

void device_data_handler::setPacer(Pacer *pacer) {
    pacer_ = pacer;
}

void device_data_handler::setThreadPool(QThreadPool *pool) {
    pool_ = pool;
}

void device_data_handler::setProgramDir(const QString &dir) {
    programDir_ = dir;
}

QString device_data_handler::normaliseIdentity(const QString &identity) {
    QString id = identity;
    id.replace(QStringLiteral("WSU-DFO-V1.1.0.6"), QStringLiteral("WSU-DFO-V1.1.0"));
    return id.toUpper();
}

QString device_data_handler::translatorName(const QString &id) {
    const Translator t = translatorFor(id);
    if (t == translateHfdKeyboard)
        return QStringLiteral("hfd");
    if (t == translateKeyboardD4)
        return QStringLiteral("keyboard-d4");
    if (t == translateMouseD3)
        return QStringLiteral("mouse-d3");
    if (t == translateLightSync)
        return QStringLiteral("sync");
    if (t == translateHjeMouse)
        return QStringLiteral("hje");
    if (t == translateQpaMouse)
        return QStringLiteral("qpa");
    return QStringLiteral("generic-d2");
}

device_data_handler::Dispatch device_data_handler::writeDevice(const QString &document) {
    return writeDevice(document, Done());
}

device_data_handler::Dispatch device_data_handler::writeDevice(const QString &document, Done done) {
    pugi::xml_document doc;
    Dispatch dispatch = Dispatch::Started;
    QString id;
    if (!xml::load(doc, document)) {
        dispatch = Dispatch::ParseFailure;
    } else {
        id = normaliseIdentity(xml::identity(doc));
        if (id.isEmpty())
            dispatch = Dispatch::NoIdentity;
        else if (id != QLatin1String("SYNC") && PublishedDevices::instance().lookup(id).isEmpty())
            dispatch = Dispatch::UnknownDevice;
    }
    if (dispatch != Dispatch::Started) {
        if (done) {
            Outcome outcome;
            outcome.dispatch = dispatch;
            done(id, document, outcome);
        }
        return dispatch;
    }

    const Translator translator = translatorFor(id);
    if (!done) {
        start(id, [translator, document](TranslationContext &ctx) { translator(ctx, document); });
        return Dispatch::Started;
    }
    start(id, [translator, document, id, done](TranslationContext &ctx) {
        RecordingSink events(ctx.events);
        Outcome outcome;
        TranslationContext mine{ctx.ops,
                                ctx.templates,
                                events,
                                ctx.pacer,
                                ctx.callbackResult,
                                ctx.programDir,
                                [&outcome, &ctx](const QString &why) {
                                    if (!outcome.writeFailed) {
                                        outcome.writeFailed = true;
                                        outcome.failure = why;
                                    }
                                    if (ctx.failed)
                                        ctx.failed(why);
                                }};
        translator(mine, document);
        outcome.events = events.events();
        done(id, document, outcome);
    });
    return Dispatch::Started;
}

void device_data_handler::slot_writeDevice(const QString &document) {
    const Dispatch d = writeDevice(document);
    if (d != Dispatch::Started)
        qDebug() << "configuration document dropped:" << static_cast<int>(d);
}

void device_data_handler::slot_writeDevice(const QString &identity, const QString &slot,
                                           const QString &profile, const QString &playtype,
                                           const QString &playcount, const QString &type,
                                           const QString &task, const QString &repeatDelay,
                                           const QString &flag) {
    const std::shared_ptr<DeviceLane> deviceLane = lane(identity);
    QMutexLocker hold(&deviceLane->mutex);
    TranslationContext ctx{ops_,
                           templates_,
                           events_,
                           pacer_ ? *pacer_ : pacer(),
                           [this](bool r) { emit SigcallbackReasult(r); },
                           programDir_,
                           [this](const QString &why) { emit SigWriteFailed(why); }};
    writeKeyRecord(ctx, identity, slot, profile, playtype, playcount, type, task, repeatDelay,
                   flag);
}

void device_data_handler::noticeMacoModify(const QString &ver, const QString &macroArr,
                                           std::function<void(bool)> done) {
    start(normaliseIdentity(ver), [ver, macroArr, done](TranslationContext &ctx) {
        const bool written = writeMacroArray(ctx, ver, macroArr);
        if (done)
            done(written);
    });
}

std::shared_ptr<device_data_handler::DeviceLane>
device_data_handler::lane(const QString &identity) {
    const QString key = normaliseIdentity(identity);
    QMutexLocker lock(&lanesMutex_);
    std::shared_ptr<DeviceLane> &l = lanes_[key];
    if (!l)
        l = std::make_shared<DeviceLane>();
    return l;
}

void device_data_handler::start(const QString &lockIdentity,
                                std::function<void(TranslationContext &)> work) {
    {
        QMutexLocker lock(&pendingMutex_);
        ++pending_;
    }
    const std::shared_ptr<DeviceLane> deviceLane = lane(lockIdentity);
    {
        QMutexLocker lock(&lanesMutex_);
        deviceLane->queue.push_back(std::move(work));
        if (deviceLane->running)
            return; // the lane's runner takes it in turn
        deviceLane->running = true;
    }
    // One runner per busy device works through its documents in arrival order, so a pool
    // thread never sits waiting for another translation of the same device.
    // The work counts as done only after the runner's last use of the handler: the owner may
    // destroy it as soon as waitForDone() returns, so finished() comes after the lane check.
    auto runner = [this, deviceLane]() {
        std::function<void(TranslationContext &)> next;
        {
            QMutexLocker lock(&lanesMutex_);
            next = std::move(deviceLane->queue.front());
            deviceLane->queue.pop_front();
        }
        for (;;) {
            {
                QMutexLocker hold(&deviceLane->mutex);
                TranslationContext ctx{ops_,
                                       templates_,
                                       events_,
                                       pacer_ ? *pacer_ : pacer(),
                                       [this](bool r) { emit SigcallbackReasult(r); },
                                       programDir_,
                                       [this](const QString &why) { emit SigWriteFailed(why); }};
                next(ctx);
            }
            bool last = false;
            {
                QMutexLocker lock(&lanesMutex_);
                if (deviceLane->queue.empty()) {
                    deviceLane->running = false;
                    last = true;
                } else {
                    next = std::move(deviceLane->queue.front());
                    deviceLane->queue.pop_front();
                }
            }
            finished();
            if (last)
                return;
        }
    };
    QThreadPool *pool = pool_ ? pool_ : QThreadPool::globalInstance();
    pool->start(new FunctionTask(std::move(runner)));
}

void device_data_handler::finished() {
    QMutexLocker lock(&pendingMutex_);
    if (--pending_ == 0)
        pendingDone_.wakeAll();
}

int device_data_handler::pendingTranslations() const {
    QMutexLocker lock(&pendingMutex_);
    return pending_;
}

bool device_data_handler::waitForDone(int msecs) {
    const QDeadlineTimer deadline =
        msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
    QMutexLocker lock(&pendingMutex_);
    while (pending_ > 0) {
        if (!pendingDone_.wait(&pendingMutex_, deadline))
            return pending_ == 0;
    }
    return true;
}

} // namespace torvanix
