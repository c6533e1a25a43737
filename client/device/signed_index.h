#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace torvanix {

// Ed25519 signatures by the release key, and the update index they vouch for: the index is
// fetched over a network the program does not trust, so a firmware image from the update
// server is written only when the index's signature holds and the index names exactly that
// image (size and SHA-256) for the device's model.
namespace signed_index {

constexpr int PublicKeySize = 32;
constexpr int SecretSeedSize = 32;
constexpr int SignatureSize = 64;

// True when `signature` (64 bytes) is `publicKey`'s signature of `message`.
bool verify(const QByteArray &message, const QByteArray &signature, const QByteArray &publicKey);
// The signature of `message` by the key pair of a 32-byte seed; empty for another size.
QByteArray sign(const QByteArray &message, const QByteArray &secretSeed);

// Keys an index may be signed with besides the release key: the test key, only in builds made
// to trust it and only while the update server is not the vendor's (TORVANIX_UPSTREAM set).
QList<QByteArray> testKeys();

// Checks the image file against a signed index (the exact text as fetched, its signature in
// base64). The model is the identity's first seven characters ("TOB-NIR" of
// "TOB-NIR-V1.2.0"). False, with the reason in `why` (may be null), for a signature that no
// key makes, an index that is not the format, no entry for the model, or a file of another
// size or digest.
bool checkImage(const QString &imagePath, const QString &identity, const QByteArray &index,
                const QString &signatureBase64, const QList<QByteArray> &keys,
                QString *why = nullptr);

} // namespace signed_index
} // namespace torvanix
