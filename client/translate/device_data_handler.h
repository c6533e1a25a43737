#pragma once

#include "driver_templates.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariantList>
#include <QWaitCondition>
#include <deque>
#include <functional>
#include <memory>

class QThreadPool;

namespace torvanix {

class DeviceOperations;
class EventSink;
class Pacer;
struct TranslationContext;

// The configuration translator: takes configuration documents, chooses the translator for the
// device family and runs it as a task on a thread pool (the global pool unless another is set).
//
// Concurrency rules:
//  - the generation tables are parsed once at load time and only read by translations;
//  - documents are queued per device identity (compared without regard to case) and the
//    translations of one device run one after the other, in the order the documents arrived,
//    each holding the device's lock for its whole run; so two documents for the same device
//    never interleave their device traffic and the later one is applied last. Documents for
//    different devices run in parallel. The lighting sync document is queued under "SYNC",
//    a macro table under its `Ver` identity; the nine-string key write takes the device's lock.
class device_data_handler : public QObject {
    Q_OBJECT
public:
    // Why a document was or was not started (the command-line tool reports it).
    enum class Dispatch {
        Started,
        ParseFailure,  // the text is not XML
        NoIdentity,    // no /configuration/key[@name='UsbId'] value
        UnknownDevice, // the published devices hold no record for the identity
    };

    // `ops` and `events` must outlive the handler.
    device_data_handler(DeviceOperations &ops, EventSink &events, QObject *parent = nullptr);
    ~device_data_handler() override;

    // Reads one generation table (":/drive/D2.0" ...), stored under its Version.
    bool loadDriverTemplate(const QString &resourcePath);
    const DriverTemplates &templates() const { return templates_; }

    // Where pauses go (default: the process pacer, torvanix::pacer()).
    void setPacer(Pacer *pacer);
    // The pool translations run on (default QThreadPool::globalInstance()).
    void setThreadPool(QThreadPool *pool);
    // The folder screen images are read from (default: the program folder).
    void setProgramDir(const QString &dir);

    // The dispatch of slot_writeDevice with its outcome.
    Dispatch writeDevice(const QString &document);

    // What became of one document, for senders other than the page that need an answer.
    struct Outcome {
        Dispatch dispatch = Dispatch::Started;
        bool writeFailed = false;
        QString failure; // why the write did not reach the device
        // The page events this document raised, in order (they reach the page as well).
        QList<QPair<QString, QVariantList>> events;
    };
    using Done = std::function<void(const QString &identity, const QString &document,
                                    const Outcome &outcome)>;
    // writeDevice that also reports the outcome: `done` runs on the translation's thread once
    // the document has been translated and written, or at once when it was dropped.
    Dispatch writeDevice(const QString &document, Done done);

    // The macro table of the packet keyboard (page command NoticeMacoModify); runs as a task
    // under the lock of the identity `ver`. `done` (optional, called on the task's thread) learns
    // whether the whole table reached the device.
    void noticeMacoModify(const QString &ver, const QString &macroArr,
                          std::function<void(bool)> done = {});

    // Number of translations started and not yet finished.
    int pendingTranslations() const;
    // Blocks until every started translation has finished or `msecs` passed (-1: no limit).
    // True when none is left.
    bool waitForDone(int msecs = -1);

    // The translator family of an identity as dispatch chooses it (after normalisation and
    // upper-casing), e.g. "generic-d2", "qpa", "hje", "hfd", "keyboard-d4", "mouse-d3", "sync".
    static QString translatorName(const QString &normalisedIdentity);
    // "WSU-DFO-V1.1.0.6" -> "WSU-DFO-V1.1.0" (case-sensitive), then upper-cased.
    static QString normaliseIdentity(const QString &identity);

public slots:
    // Starts the translation of a configuration document and returns at once. Documents that
    // do not parse, carry no identity or name an unknown device are dropped silently.
    void slot_writeDevice(const QString &document);
    // Writes one key record of the D2.0 mouse family (writeKeyRecord) synchronously and emits
    // SigcallbackReasult with the write result.
    void slot_writeDevice(const QString &identity, const QString &slot, const QString &profile,
                          const QString &playtype, const QString &playcount, const QString &type,
                          const QString &task, const QString &repeatDelay, const QString &flag);

signals:
    void SigcallbackReasult(bool result);
    // A translation's write did not reach the device (emitted on the translation's thread);
    // no "saved" answer follows for that document.
    void SigWriteFailed(const QString &reason);

private:
    // The documents waiting for one device, and the lock its translations hold.
    struct DeviceLane {
        QMutex mutex;
        std::deque<std::function<void(TranslationContext &)>> queue;
        bool running = false; // a runner task is working through the queue
    };

    void start(const QString &lockIdentity, std::function<void(TranslationContext &)> work);
    std::shared_ptr<DeviceLane> lane(const QString &identity);
    void finished();

    DeviceOperations &ops_;
    EventSink &events_;
    Pacer *pacer_ = nullptr;
    QThreadPool *pool_ = nullptr;
    QString programDir_;
    DriverTemplates templates_;

    QMutex lanesMutex_;
    QHash<QString, std::shared_ptr<DeviceLane>> lanes_;

    mutable QMutex pendingMutex_;
    QWaitCondition pendingDone_;
    int pending_ = 0;
};

} // namespace torvanix
