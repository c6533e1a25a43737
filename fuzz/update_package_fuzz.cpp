// Client update packages from untrusted downloads: the digest, the LZMA data and the content
// stream, and the entry paths that decide where files land.
#include "device/client_update.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <cstdint>
#include <cstdlib>

using namespace torvanix::client_update;

namespace {
void checkContent(const QByteArray &content) {
    Content parsed;
    if (!parseContent(content, &parsed))
        return;
    for (const Entry &entry : parsed.entries) {
        const QString relative = safeRelativePath(entry.path);
        if (relative.isEmpty())
            continue;
        if (relative.startsWith(QLatin1Char('/')) ||
            relative.split(QLatin1Char('/')).contains(QStringLiteral("..")))
            std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    checkContent(bytes);
    QByteArray content;
    decodePackage(bytes, &content);
    // Past the digest too: a fuzzer cannot forge SHA-1, so the input gets a correct one.
    if (bytes.size() > 157) {
        bytes.replace(128, 20, QCryptographicHash::hash(bytes.mid(148), QCryptographicHash::Sha1));
        if (decodePackage(bytes, &content))
            checkContent(content);
    }
    return 0;
}
