#pragma once

#include "fastfileoptaskspecification.h"

// Makes sure that the directory path exists, creating its missing ancestors
// from the top down, each journalled on its own, so that undoing removes
// them from the bottom up.
class DirCreateTaskSpecification final : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DirCreateTaskSpecification)

public:
    DirCreateTaskSpecification(const QString &path, RollbackDataList *rollbackList,
                               QObject *parent, double weight);

protected:
    bool doOp() override;

private:
    bool tryCreateDir(const QString &dir);
};
