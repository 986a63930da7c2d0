#pragma once

#include "fastfileoptaskspecification.h"

// Moves the file fromPath to the name path, never replacing a file of that
// name.
class FileRenameTaskSpecification final : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileRenameTaskSpecification)

public:
    FileRenameTaskSpecification(const QString &from, const QString &to,
                                RollbackDataList *rollbackList, QObject *parent, double weight);

    const QString &getFromPath() const { return fromPath; }

protected:
    bool doOp() override;

private:
    QString fromPath;
};
