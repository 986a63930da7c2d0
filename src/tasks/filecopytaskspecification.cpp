#include "filecopytaskspecification.h"

#include "filecopyfunc.h"

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList *rollbackList,
                                                     const QString &source,
                                                     const QString &destination, QObject *parent,
                                                     double weight)
    : SlowFileOpSpecification(QStringLiteral("Could not copy '%1' to '%2'").arg(source, destination),
                              rollbackList, source, destination, parent, weight)
{
}

ASyncFunc *FileCopyTaskSpecification::createFunction()
{
    return new FileCopyFunc(sourcePath, destPath);
}
