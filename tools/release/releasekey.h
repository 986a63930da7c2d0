#pragma once

#include "crypto/cryptfunctions.h"

#include <QByteArray>
#include <QString>

// One RSA key of the release process, released when it goes out of scope.
// Every operation throws ReleaseError with a text that names the key.
class ReleaseKey final
{
    Q_DISABLE_COPY_MOVE(ReleaseKey)

public:
    ReleaseKey() = default;
    ~ReleaseKey();

    // A new 1024-bit key pair with public exponent 65537.
    void generate();
    // A key file as the crypto layer reads one: a DER key or a 2048-byte key
    // blob, at most 2048 bytes.
    void loadFile(const QString &path);
    // The key compiled into the updater.
    void loadBuiltIn();

    bool isPrivate() const;
    int modulusBits() const;
    // PKCS#1 DER at its exact length: RSAPublicKey or RSAPrivateKey.
    QByteArray exportDer(int type) const;
    // Whether the public half is the key the updater checks against.
    bool matchesBuiltIn() const;

    QByteArray sign(const QByteArray &data) const;
    // Throws when the library rejects the signature outright (wrong length).
    bool verify(const QByteArray &data, const QByteArray &signature) const;

    const QString &origin() const { return name; }

private:
    // LibTomCrypt takes keys by non-const pointer even where it only reads.
    Rsa_key *raw() const { return &key; }
    void release();

    mutable Rsa_key key {};
    bool loaded = false;
    QString name;
};
