#include "fastfileoptaskspecification.h"

#include "rollbackdatalist.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString &path,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, double weight)
    : TaskSpecification(parent, weight), rollbackList(rollbackList), path(path)
{
}

void FastFileOpTaskSpecification::execute()
{
    state = Running;
    if (doOp())
        finish();
    else
        errorCancel();
}

void FastFileOpTaskSpecification::addRollbackOp(RollbackData op)
{
    if (rollbackList)
        rollbackList->add(op);
}
