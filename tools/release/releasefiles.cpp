#include "releasefiles.h"

#include "releaseerror.h"

#include "crypto/cryptfunctions.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace ReleaseFiles {

QByteArray readAll(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw ReleaseError(QStringLiteral("%1 does not exist or is not a file").arg(path));
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    try {
        read_file(QFile::encodeName(path).constData(), &buffer, &length);
    } catch (const crypt_exception &e) {
        std::free(buffer);
        throw ReleaseError(QString::fromLocal8Bit(e.what()));
    }
    QByteArray data(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    return data;
}

void writeNew(const QString &path, const QByteArray &data)
{
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        throw ReleaseError(QStringLiteral("%1 already exists; remove it first").arg(path));
    QByteArray bytes = data;
    try {
        write_file(QFile::encodeName(path).constData(),
                   reinterpret_cast<unsigned char *>(bytes.data()),
                   static_cast<unsigned long>(bytes.size()));
    } catch (const crypt_exception &e) {
        throw ReleaseError(QString::fromLocal8Bit(e.what()));
    }
}

QStringList listFiles(const QString &dir)
{
    const QDir root(QFileInfo(dir).absoluteFilePath());
    QStringList files;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(root.relativeFilePath(it.next()));
    files.sort();
    return files;
}

void requireDirectory(const QString &path, const QString &what)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw ReleaseError(QStringLiteral("%1 %2 does not exist").arg(what, path));
    if (!info.isDir())
        throw ReleaseError(QStringLiteral("%1 %2 is not a directory").arg(what, path));
}

} // namespace ReleaseFiles
