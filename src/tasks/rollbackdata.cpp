#include "rollbackdata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

RollbackData::RollbackData(Operation operation, const QString &from, const QString &to)
    : path(to), oldPath(from), operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString &path)
    : path(path), operation(operation)
{
}

bool RollbackData::rollback(QObject *reporter) const
{
    switch (operation) {
    case Rename:
        // QFile::rename never replaces an existing file, so a file that has
        // meanwhile reappeared under the old name is left alone.
        if (QFile::rename(path, oldPath))
            return true;
        message(reporter, QStringLiteral("warning: rollback rename %1 to %2 failed")
                                  .arg(oldPath, path));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        message(reporter, QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case CreateDir: {
        // rmdir removes only an empty directory: whatever someone else put
        // into it meanwhile stays.
        const QFileInfo info(QDir::cleanPath(path));
        if (info.dir().rmdir(info.fileName()))
            return true;
        message(reporter, QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    }
    qFatal("Should not reach here");
    return false;
}

void RollbackData::message(QObject *reporter, const QString &text)
{
    if (reporter)
        QMetaObject::invokeMethod(reporter, "message", Qt::AutoConnection, Q_ARG(QString, text));
}
