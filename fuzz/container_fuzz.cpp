// Macro and profile containers from untrusted files.
#include "dispatch/file_container.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QString text;
    if (!torvanix::container::decode(bytes, &text))
        return 0;
    // Whatever loads saves again and loads to the same text.
    QString again;
    if (!torvanix::container::decode(torvanix::container::encode(text), &again) || again != text)
        std::abort();
    return 0;
}
