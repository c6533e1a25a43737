#pragma once

#include <QByteArray>
#include <QList>
#include <QVariantList>

namespace torvanix::link {

// The core and the window process talk over the single-instance socket. The window process
// opens with kHello, which a later start's "CMD:show;" can never be taken for; after it both
// sides send frames: a 4-byte big-endian length, then the kind and its fields. Page texts
// (queries, answers, event arguments) travel as they are, never re-encoded.
inline const QByteArray kHello = QByteArray("\0TORVANIX-FACE/1\n", 17);

enum class Kind : quint8 {
    // window process -> core
    Query = 1,    // id, request text
    ActionDone,   // action id, result (a string or a string list)
    CloseRequest, // the user closed the main window
    MayEnd,       // no window shown for a while: may the window process end?
    // core -> window process
    Answer = 64, // id, ok, code, text
    Event,       // name, argument list
    Action,      // action id (0: no result wanted), name, argument list
    EndAnswer,   // whether the window process may end now
};

struct Frame {
    Kind kind = Kind::Query;
    QVariantList fields;
};

// The largest frame either side accepts: a picture upload in base64 fits many times over.
constexpr int kMaxFrameBytes = 64 * 1024 * 1024;

QByteArray encode(const Frame &frame);

// Takes every complete frame from the front of buffer into out; an incomplete one stays. False
// when the buffer holds something that is no frame (too long, unreadable): the peer is not one
// of ours and the connection is dropped.
bool takeFrames(QByteArray &buffer, QList<Frame> &out);

} // namespace torvanix::link
