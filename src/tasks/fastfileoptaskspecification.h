#pragma once

#include "rollbackdata.h"
#include "taskspecification.h"

#include <QString>

class RollbackDataList;

// A file operation quick enough to run on the GUI thread: the operation, its
// failure text, its undo record and the task's end all happen inside
// execute().
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FastFileOpTaskSpecification)

public:
    FastFileOpTaskSpecification(const QString &path, RollbackDataList *rollbackList,
                                QObject *parent, double weight);

    const QString &getPath() const { return path; }

public slots:
    void execute() override;

protected:
    // Does the operation, logs its own failure and journals its own undo
    // record; true on success.
    virtual bool doOp() = 0;

    void addRollbackOp(RollbackData op);

    // Borrowed; null means no journaling.
    RollbackDataList *rollbackList;
    QString path;
};
