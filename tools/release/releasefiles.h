#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// File helpers of the release tool; each throws ReleaseError naming the path.
namespace ReleaseFiles {

// The whole file, read through the crypto layer as a signature covers it.
QByteArray readAll(const QString &path);

// Writes a file that must not exist yet.
void writeNew(const QString &path, const QByteArray &data);

// Every file below dir (hidden ones included), as sorted relative paths with
// "/" between directories. Links to files count as files; links to
// directories are not followed.
QStringList listFiles(const QString &dir);

// Throws unless path is an existing directory.
void requireDirectory(const QString &path, const QString &what);

} // namespace ReleaseFiles
