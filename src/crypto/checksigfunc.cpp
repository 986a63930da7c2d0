#include "checksigfunc.h"

#include "crypto/cryptfunctions.h"

#include <QCryptographicHash>
#include <QFile>

#include <memory>

namespace {

constexpr qint64 HashBufferSize = 1024 * 1024;

} // namespace

CheckSigFunc::CheckSigFunc(const QString &filePath, const QString &md5)
    : filePath(filePath), md5(md5)
{
}

bool CheckSigFunc::run()
{
    return md5.isEmpty() ? checkRSA() : checkMD5();
}

bool CheckSigFunc::readFile(const QString &path, QByteArray &out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(QStringLiteral("Could not open file %1 for reading").arg(path));
        return false;
    }
    const qint64 size = file.size();
    out.resize(size);
    if (file.read(out.data(), size) != size) {
        emit message(QStringLiteral("could not read file %1 correctly").arg(path));
        return false;
    }
    return true;
}

bool CheckSigFunc::hashFile(int algorithm, QByteArray &digest)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(QStringLiteral("Could not open file %1 for reading").arg(filePath));
        return false;
    }
    // Exactly the size the file had when it was opened is hashed; a file
    // that turns out shorter, or fails to read, is not checked.
    const qint64 size = file.size();
    QCryptographicHash hash{QCryptographicHash::Algorithm(algorithm)};
    const std::unique_ptr<char[]> buffer(new char[HashBufferSize]);
    qint64 remaining = size;
    while (remaining > 0) {
        const qint64 got = file.read(buffer.get(), qMin(remaining, HashBufferSize));
        if (got <= 0)
            break;
        hash.addData(QByteArrayView(buffer.get(), got));
        remaining -= got;
    }
    if (remaining != 0) {
        emit message(QStringLiteral("could not read file %1 correctly").arg(filePath));
        return false;
    }
    digest = hash.result();
    return true;
}

bool CheckSigFunc::checkMD5()
{
    QByteArray digest;
    if (!hashFile(QCryptographicHash::Md5, digest))
        return false;
    return QString::fromLatin1(digest.toHex()).compare(md5, Qt::CaseInsensitive) == 0;
}

bool CheckSigFunc::checkRSA()
{
    QByteArray digest;
    if (!hashFile(QCryptographicHash::Sha1, digest))
        return false;
    QByteArray signature;
    if (!readFile(filePath + QStringLiteral(".sig"), signature))
        return false;
    Rsa_key key;
    try {
        load_key(&key, PUBLIC_KEY, sizeof(PUBLIC_KEY));
    } catch (const crypt_exception &) {
        return false;
    }
    // The key is local to this check, so several checks may run at once.
    bool valid = false;
    try {
        valid = verify_hash(&key, reinterpret_cast<const unsigned char *>(digest.constData()),
                            reinterpret_cast<unsigned char *>(signature.data()),
                            static_cast<unsigned long>(signature.size()));
    } catch (const crypt_exception &) {
        valid = false;
    }
    rsa_free(&key);
    return valid;
}
