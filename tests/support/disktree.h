#pragma once

// Small helpers for tests that lay out files in a temporary directory and
// compare what is on disk afterwards, whole.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

namespace DiskTree {

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Creates the directories "a", "a/b", ... and the files "a/b/f" below root,
// each file holding its own relative path as content.
inline bool build(const QString &root, const QStringList &dirs, const QStringList &files)
{
    QDir dir(root);
    for (const QString &d : dirs) {
        if (!dir.mkpath(d))
            return false;
    }
    for (const QString &f : files) {
        if (!writeFile(dir.filePath(f), f.toUtf8()))
            return false;
    }
    return true;
}

// Everything below root, sorted: "a/" for a directory, "a/f=content" for a
// file.
inline QStringList list(const QString &root)
{
    QStringList entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = base.relativeFilePath(path);
        if (it.fileInfo().isDir())
            entries.append(rel + QLatin1Char('/'));
        else
            entries.append(rel + QLatin1Char('=') + QString::fromUtf8(readFile(path)));
    }
    entries.sort();
    return entries;
}

} // namespace DiskTree
