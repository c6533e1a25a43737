// Client update packages from untrusted downloads: the digest, the LZMA data and the content
// stream, and the entry paths that decide where files land.
#include "device/client_update.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <cstdint>
#include <cstdlib>
#include <sodium.h>

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

// A fuzzer can forge neither SHA-1 nor Ed25519: past the plain reading, the input is signed
// with a key of the target's own and given a correct digest, so the decoder and the content
// stream get explored too.
const QByteArray kSeed(32, 'f');

QByteArray signedForFuzzing(QByteArray bytes) {
    const int end = bytes.size() - SignatureBlockSize;
    unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(pk, sk, reinterpret_cast<const unsigned char *>(kSeed.constData()));
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr,
                         reinterpret_cast<const unsigned char *>(bytes.constData()) + 148,
                         static_cast<unsigned long long>(end - 148), sk);
    bytes.replace(end, 8, QByteArray(SignatureTag, 8));
    bytes.replace(end + 8, SignatureSize, QByteArray(reinterpret_cast<const char *>(sig), 64));
    bytes.replace(128, 20, QCryptographicHash::hash(bytes.mid(148), QCryptographicHash::Sha1));
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const QByteArray publicKey = publicKeyForSeed(kSeed);
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    checkContent(bytes);
    QByteArray content;
    // Unsigned input never decodes.
    if (decodePackage(bytes, publicKey, &content) &&
        bytes.mid(bytes.size() - SignatureBlockSize, 8) != QByteArray(SignatureTag, 8))
        std::abort();
    if (bytes.size() > 157 + SignatureBlockSize) {
        if (decodePackage(signedForFuzzing(bytes), publicKey, &content))
            checkContent(content);
    }
    return 0;
}
