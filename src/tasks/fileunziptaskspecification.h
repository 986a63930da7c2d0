#pragma once

#include "slowfileopspecification.h"

// Unpacks a gzip file on the thread pool and journals the unpacked file.
class FileUnzipTaskSpecification final : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileUnzipTaskSpecification)

public:
    FileUnzipTaskSpecification(RollbackDataList *rollbackList, const QString &source,
                               const QString &destination, QObject *parent, double weight);

protected:
    ASyncFunc *createFunction() override;
};
