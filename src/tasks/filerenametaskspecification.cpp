#include "filerenametaskspecification.h"

#include <QFile>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString &from, const QString &to,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, double weight)
    : FastFileOpTaskSpecification(to, rollbackList, parent, weight), fromPath(from)
{
}

bool FileRenameTaskSpecification::doOp()
{
    if (!QFile::rename(fromPath, path)) {
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(fromPath, path));
        return false;
    }
    addRollbackOp(RollbackData(RollbackData::Rename, fromPath, path));
    return true;
}
