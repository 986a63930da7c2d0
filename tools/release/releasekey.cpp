#include "releasekey.h"

#include "releaseerror.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString describe(const crypt_exception &e)
{
    return QString::fromLocal8Bit(e.what());
}

} // namespace

ReleaseKey::~ReleaseKey()
{
    release();
}

void ReleaseKey::release()
{
    if (loaded)
        rsa_free(&key);
    loaded = false;
}

void ReleaseKey::generate()
{
    release();
    try {
        create_key(&key);
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("cannot create a key pair: %1").arg(describe(e)));
    }
    loaded = true;
    name = QStringLiteral("new key");
}

void ReleaseKey::loadFile(const QString &path)
{
    release();
    const QFileInfo info(path);
    if (!info.exists())
        throw ReleaseError(QStringLiteral("key file %1 does not exist").arg(path));
    if (!info.isFile())
        throw ReleaseError(QStringLiteral("key file %1 is not a file").arg(path));
    // Whatever lies beyond 2048 bytes would be ignored by the import; a file
    // that large is not one of ours.
    if (info.size() == 0 || info.size() > qint64(KEY_BLOB_SIZE)) {
        throw ReleaseError(QStringLiteral("key file %1 has %2 bytes; a key file is a DER key or a "
                                          "key blob of at most %3 bytes")
                               .arg(path)
                               .arg(info.size())
                               .arg(KEY_BLOB_SIZE));
    }
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly) && probe.peek(10) == "-----BEGIN") {
        throw ReleaseError(QStringLiteral("key file %1 is in PEM form; convert it to DER first, "
                                          "for example: openssl rsa -in KEY.pem -outform DER "
                                          "-traditional -out KEY.der")
                               .arg(path));
    }
    probe.close();
    try {
        load_key(&key, QFile::encodeName(path).constData());
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("key file %1 does not hold an RSA key in PKCS#1 DER "
                                          "form (%2)")
                               .arg(path, describe(e)));
    }
    loaded = true;
    name = path;
}

void ReleaseKey::loadBuiltIn()
{
    release();
    try {
        load_key(&key, PUBLIC_KEY, KEY_BLOB_SIZE);
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("the built-in key does not import (%1)").arg(describe(e)));
    }
    loaded = true;
    name = QStringLiteral("built-in key");
}

bool ReleaseKey::isPrivate() const
{
    return loaded && key.type == PK_PRIVATE;
}

int ReleaseKey::modulusBits() const
{
    return loaded ? rsa_get_size(raw()) * 8 : 0;
}

QByteArray ReleaseKey::exportDer(int type) const
{
    QByteArray der(int(KEY_BLOB_SIZE), '\0');
    unsigned long length = KEY_BLOB_SIZE;
    try {
        check_err("rsa_export", rsa_export(reinterpret_cast<unsigned char *>(der.data()), &length,
                                           type, raw()));
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("cannot export %1 (%2)").arg(name, describe(e)));
    }
    der.truncate(int(length));
    return der;
}

bool ReleaseKey::matchesBuiltIn() const
{
    ReleaseKey builtIn;
    builtIn.loadBuiltIn();
    return exportDer(PK_PUBLIC) == builtIn.exportDer(PK_PUBLIC);
}

QByteArray ReleaseKey::sign(const QByteArray &data) const
{
    if (!isPrivate())
        throw ReleaseError(QStringLiteral("%1 is a public key; signing needs the private key").arg(name));
    QByteArray signature(int(KEY_BLOB_SIZE), '\0');
    unsigned long length = KEY_BLOB_SIZE;
    try {
        sign_msg(raw(), reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()),
                 reinterpret_cast<unsigned char *>(signature.data()), &length);
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("cannot sign with %1 (%2)").arg(name, describe(e)));
    }
    signature.truncate(int(length));
    return signature;
}

bool ReleaseKey::verify(const QByteArray &data, const QByteArray &signature) const
{
    QByteArray sig = signature;
    try {
        return verify_msg(raw(), reinterpret_cast<const unsigned char *>(data.constData()),
                          static_cast<unsigned long>(data.size()),
                          reinterpret_cast<unsigned char *>(sig.data()),
                          static_cast<unsigned long>(sig.size()));
    } catch (const crypt_exception &e) {
        throw ReleaseError(QStringLiteral("signature rejected (%1)").arg(describe(e)));
    }
}
