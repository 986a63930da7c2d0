#pragma once

#include "fastfileoptaskspecification.h"

// Deletes one file. Deletions are never journalled: only files meant to
// disappear are deleted.
class FileDeleteTaskSpecification final : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileDeleteTaskSpecification)

public:
    // With mustSucceed false the deletion is best effort: it never fails the
    // task and logs nothing.
    FileDeleteTaskSpecification(bool mustSucceed, const QString &path, QObject *parent,
                                double weight);

    bool getMustSucceed() const { return mustSucceed; }

protected:
    bool doOp() override;

private:
    bool mustSucceed;
};
