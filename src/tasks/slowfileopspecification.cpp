#include "slowfileopspecification.h"

#include "rollbackdatalist.h"

SlowFileOpSpecification::SlowFileOpSpecification(QString failMessage,
                                                 RollbackDataList *rollbackList,
                                                 const QString &sourcePath,
                                                 const QString &destPath, QObject *parent,
                                                 double weight)
    : ASyncTaskSpecification(parent, weight),
      rollbackList(rollbackList),
      sourcePath(sourcePath),
      destPath(destPath),
      failMessage(std::move(failMessage))
{
}

void SlowFileOpSpecification::runDone(bool ok)
{
    // Journal and log even when the task has been reset meanwhile: the file
    // exists either way, and the parent must see the record before it learns
    // that the task finished.
    if (ok && rollbackList)
        rollbackList->add(RollbackData(RollbackData::CreateFile, destPath));
    if (!ok)
        emit message(failMessage);
    ASyncTaskSpecification::runDone(ok);
}
