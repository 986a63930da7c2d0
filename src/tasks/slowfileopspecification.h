#pragma once

#include "asynctaskspecification.h"

#include <QString>

class RollbackDataList;

// A background task that creates destPath from sourcePath. On success it
// journals the new file, so that undoing removes it; on failure it logs
// failMessage.
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SlowFileOpSpecification)

public:
    SlowFileOpSpecification(QString failMessage, RollbackDataList *rollbackList,
                            const QString &sourcePath, const QString &destPath, QObject *parent,
                            double weight);

    const QString &getSourcePath() const { return sourcePath; }
    const QString &getDestPath() const { return destPath; }

protected:
    void runDone(bool ok) override;

    // Borrowed; null means no journaling.
    RollbackDataList *rollbackList;
    QString sourcePath;
    QString destPath;
    QString failMessage;
};
