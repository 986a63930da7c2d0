#pragma once

#include "slowfileopspecification.h"

// Copies a file on the thread pool and journals the copy.
class FileCopyTaskSpecification final : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileCopyTaskSpecification)

public:
    FileCopyTaskSpecification(RollbackDataList *rollbackList, const QString &source,
                              const QString &destination, QObject *parent, double weight);

protected:
    ASyncFunc *createFunction() override;
};
