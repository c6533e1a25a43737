// Bytes from any program that reaches the lighting server's port: the packet stream is cut into
// packets and every payload read by each of its decoders, at every protocol version; none may
// crash, hang or read past what it was given.
#include "lightserver/sdk_protocol.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace torvanix::sdk;
    QByteArray stream(reinterpret_cast<const char *>(data), static_cast<int>(size));
    // A stream that does not start with a packet is the case the magic check is for; one that
    // does is then cut as the server cuts it.
    if (stream.size() >= 4 && stream.at(0) == '#') {
        stream.remove(0, 1);
        stream.prepend("ORGB");
    }
    int at = 0;
    while (at < stream.size()) {
        const QByteArray rest = stream.mid(at);
        Header h;
        if (readHeader(rest, &h) != HeaderStatus::Complete)
            break;
        const QByteArray payload = rest.mid(kHeaderSize, int(h.size));
        decodeText(payload);
        decodeUint(payload);
        decodeUpdateLeds(payload);
        decodeUpdateZoneLeds(payload);
        decodeUpdateSingleLed(payload);
        decodeAddSegment(payload);
        for (quint32 version = 0; version <= kHighestVersion; ++version) {
            if (const auto change = decodeUpdateMode(payload, version)) {
                ControllerData d;
                d.modes.append(change->mode);
                encodeControllerData(d, version);
            }
        }
        at += kHeaderSize + payload.size();
    }
    return 0;
}
