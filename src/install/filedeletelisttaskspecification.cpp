#include "filedeletelisttaskspecification.h"

#include "core/configuration.h"
#include "tasks/filedeletetaskspecification.h"

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(QList<QString> *deleteList,
                                                                 QObject *parent, double weight)
    : ComposedTaskSpecification(1, weight, parent), deleteList(deleteList)
{
}

void FileDeleteListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const QString root = Configuration::getAppRootPath() + QLatin1Char('/');
    if (!deleteList->isEmpty()) {
        const double weight = 1.0 / double(deleteList->size());
        // A file that cannot be deleted is left behind: the update is already
        // installed and stays valid.
        for (const QString &entry : std::as_const(*deleteList))
            addSubTask(new FileDeleteTaskSpecification(false, root + entry, this, weight));
    }
    state = Running;
    executeSubTasks();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    TaskSpecification::reset();
}
