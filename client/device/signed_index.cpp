#include "signed_index.h"

#include "plain_file.h"
#include "update_firmware.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <sodium.h>

namespace torvanix::signed_index {

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool fail(QString *why, const QString &text) {
    if (why)
        *why = text;
    return false;
}

} // namespace

bool verify(const QByteArray &message, const QByteArray &signature, const QByteArray &publicKey) {
    if (signature.size() != SignatureSize || publicKey.size() != PublicKeySize || !sodiumReady())
        return false;
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char *>(signature.constData()),
               reinterpret_cast<const unsigned char *>(message.constData()),
               static_cast<unsigned long long>(message.size()),
               reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
}

QByteArray sign(const QByteArray &message, const QByteArray &secretSeed) {
    if (secretSeed.size() != SecretSeedSize || !sodiumReady())
        return {};
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secret,
                             reinterpret_cast<const unsigned char *>(secretSeed.constData()));
    QByteArray signature(SignatureSize, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         static_cast<unsigned long long>(message.size()), secret);
    sodium_memzero(secret, sizeof secret);
    return signature;
}

QList<QByteArray> testKeys() {
#ifdef TORVANIX_TEST_INDEX_KEY
    // The test key's secret half lies in the repository: it must never vouch for what the
    // vendor endpoint serves.
    if (!qEnvironmentVariableIsEmpty("TORVANIX_UPSTREAM"))
        return {QByteArray::fromHex(QByteArrayLiteral(TORVANIX_TEST_INDEX_KEY))};
#endif
    return {};
}

bool checkImage(const QString &imagePath, const QString &identity, const QByteArray &index,
                const QString &signatureBase64, const QList<QByteArray> &keys, QString *why) {
    const auto decoded = QByteArray::fromBase64Encoding(signatureBase64.trimmed().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != SignatureSize)
        return fail(why, QStringLiteral("the index carries no signature"));
    bool signedByKey = false;
    for (const QByteArray &key : keys)
        signedByKey = signedByKey || verify(index, decoded.decoded, key);
    if (!signedByKey)
        return fail(why, QStringLiteral("the index is not signed by the release key"));

    const QJsonObject document = QJsonDocument::fromJson(index).object();
    if (document.value(QStringLiteral("format")).toInt() != 1)
        return fail(why, QStringLiteral("the index is not of format 1"));
    const QString model = identity.left(7).toUpper();
    static const QRegularExpression modelId(QStringLiteral("^[A-Z0-9]{3}-[A-Z0-9]{3}$"));
    const QJsonObject entry = document.value(QStringLiteral("firmware"))
                                  .toObject()
                                  .value(modelId.match(model).hasMatch() ? model : QString())
                                  .toObject();
    if (entry.isEmpty())
        return fail(why, QStringLiteral("the index offers no firmware for ") + model);

    QByteArray image;
    if (!readPlainFile(imagePath, FirmwareImage::AreaSize, &image))
        return fail(why, QStringLiteral("the image file cannot be read"));
    const QJsonValue size = entry.value(QStringLiteral("size"));
    if (!size.isDouble() || size.toDouble() != static_cast<double>(image.size()))
        return fail(why, QStringLiteral("the image is not the size the index states"));
    const QByteArray digest = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    if (entry.value(QStringLiteral("sha256")).toString().toLatin1() != digest)
        return fail(why, QStringLiteral("the image is not the one the index names"));
    return true;
}

} // namespace torvanix::signed_index
