#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(const QString &path,
                                                       RollbackDataList *rollbackList,
                                                       QObject *parent, double weight)
    : FastFileOpTaskSpecification(path, rollbackList, parent, weight)
{
}

bool DirCreateTaskSpecification::doOp()
{
    return tryCreateDir(path);
}

bool DirCreateTaskSpecification::tryCreateDir(const QString &dir)
{
    const QFileInfo info(dir);
    if (info.exists()) {
        if (info.isDir())
            return true;
        emit message(
                QStringLiteral("Could not create dir '%1' because it already exists and is not a dir")
                        .arg(dir));
        return false;
    }

    // Cleaned, so that a trailing "/" or a "." component cannot make the
    // recursion step in place.
    const QFileInfo clean(QDir::cleanPath(dir));
    const QString parent = clean.path();
    if (parent.isEmpty() || parent == QLatin1String(".") || QDir(clean.filePath()).isRoot()) {
        // Nothing left to create the directory in; name the directory that
        // was asked for, not the ancestor the recursion has reached.
        emit message(QStringLiteral("Could not create dir %1").arg(path));
        return false;
    }

    if (!QFileInfo::exists(parent) && !tryCreateDir(parent))
        return false;

    if (!QDir(parent).mkdir(clean.fileName())) {
        emit message(QStringLiteral("unable to create dir %1").arg(dir));
        return false;
    }
    addRollbackOp(RollbackData(RollbackData::CreateDir, dir));
    return true;
}
