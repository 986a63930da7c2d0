#pragma once

// A whole directory tree as sorted lines of (relative path, size, MD5, mode),
// for tests that compare an installation before and after, byte for byte and
// mode for mode. Symbolic links are listed, never followed.

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

namespace DiskSnapshot {

// The permission bits of path itself (not of a link's target), or -1.
inline int mode(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

inline QString octal(int mode)
{
    return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

inline QString fileLine(const QString &relativePath, const QByteArray &content, int mode)
{
    return QStringLiteral("%1 %2 %3 %4")
            .arg(relativePath)
            .arg(content.size())
            .arg(QString::fromLatin1(
                    QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()))
            .arg(octal(mode));
}

inline QString dirLine(const QString &relativePath, int mode)
{
    return relativePath + QStringLiteral("/ ") + octal(mode);
}

// Every entry below root: "dir/ mode", "file size md5 mode", "link -> target".
inline QStringList take(const QString &root)
{
    QStringList lines;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = base.relativeFilePath(path);
        if (info.isSymLink()) {
            lines.append(relative + QStringLiteral(" -> ") + info.symLinkTarget());
        } else if (info.isDir()) {
            lines.append(dirLine(relative, mode(path)));
        } else {
            QFile file(path);
            const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                      : QByteArray("<unreadable>");
            lines.append(fileLine(relative, content, mode(path)));
        }
    }
    lines.sort();
    return lines;
}

// The lines take() would give for a tree described as "dir/" (mode 0755) or
// "dir/@700", and "path=content@644" (mode in octal).
inline QStringList expected(const QStringList &entries)
{
    QStringList lines;
    for (const QString &entry : entries) {
        const qsizetype at = entry.lastIndexOf(QLatin1Char('@'));
        const QString body = at < 0 ? entry : entry.left(at);
        const int mode = at < 0 ? 0755 : entry.mid(at + 1).toInt(nullptr, 8);
        const qsizetype eq = body.indexOf(QLatin1Char('='));
        if (eq < 0)
            lines.append(dirLine(body.chopped(1), mode));
        else
            lines.append(fileLine(body.left(eq), body.mid(eq + 1).toUtf8(), mode));
    }
    lines.sort();
    return lines;
}

} // namespace DiskSnapshot
