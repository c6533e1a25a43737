#include "link_frames.h"

#include <QDataStream>
#include <QtEndian>

namespace torvanix::link {

namespace {
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_5_15;
}

QByteArray encode(const Frame &frame) {
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << quint8(frame.kind) << frame.fields;
    }
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), bytes.data());
    return bytes + payload;
}

bool takeFrames(QByteArray &buffer, QList<Frame> &out) {
    int pos = 0;
    while (buffer.size() - pos >= 4) {
        const quint32 length = qFromBigEndian<quint32>(buffer.constData() + pos);
        if (length == 0 || length > quint32(kMaxFrameBytes))
            return false;
        if (quint32(buffer.size() - pos - 4) < length)
            break;
        const QByteArray payload =
            QByteArray::fromRawData(buffer.constData() + pos + 4, int(length));
        QDataStream in(payload);
        in.setVersion(kStreamVersion);
        quint8 kind = 0;
        Frame frame;
        in >> kind >> frame.fields;
        if (in.status() != QDataStream::Ok || !in.atEnd())
            return false;
        frame.kind = Kind(kind);
        out.append(frame);
        pos += 4 + int(length);
    }
    buffer.remove(0, pos);
    return true;
}

} // namespace torvanix::link
