#pragma once

#include "download/filespecifications.h"
#include "tasks/composedtaskspecification.h"
#include "tasks/rollbackdatalist.h"

#include <QList>
#include <QString>

class Configuration;

// Puts one downloaded file into the installation. An installed file is never
// overwritten in place: it is first moved aside under the "_old_" name in its
// own directory, so that a file in use (the updater itself, the libraries it
// has loaded) can still be replaced. On success the task hands its undo
// records to the stage's journal; on any failure or an early user cancel it
// undoes its own changes before it ends.
class FileReplaceTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileReplaceTaskSpecification)

public:
    FileReplaceTaskSpecification(const FileReplaceSpecification &replace,
                                 QList<QString> *deleteList, RollbackDataList *parentRollbackList,
                                 Configuration *configuration, QObject *parent, double weight);

    // Gives path owner rwx and group/others r-x when its name is a known
    // executable or it ends in a shared-library suffix; otherwise leaves it
    // as it is. Never group- or world-writable: anyone who could write an
    // installed binary could plant code that runs as its owner.
    static void makeSingleFileExecutable(const QString &path);

    const FileReplaceSpecification &getReplaceSpecification() const
    {
        return replaceSpecification;
    }
    const RollbackDataList &getRollbackList() const { return rollbackList; }
    bool isMovedAside() const { return movedAside; }

public slots:
    void execute() override;
    void reset() override;

protected:
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();

    FileReplaceSpecification replaceSpecification;
    // Borrowed: the update's delete list, which gets the moved-aside name.
    QList<QString> *deleteList;
    // Borrowed: the journal of the whole replacement stage.
    RollbackDataList *parentRollbackList;
    // This file's own changes, undone if the replacement does not complete.
    RollbackDataList rollbackList;
    Configuration *configuration;
    bool movedAside = false;
};
