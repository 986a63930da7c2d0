#pragma once

#include "download/filespecifications.h"
#include "tasks/composedtaskspecification.h"
#include "tasks/rollbackdatalist.h"

#include <QList>
#include <QString>

class Configuration;

// The replacement stage of an update: creates the directories that new files
// need, then installs every entry of the replace list, two at a time. It is
// all or nothing: on any failure or user cancel it plays back the journal of
// the whole stage, so that the installation is as it was before.
class FileReplaceListTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileReplaceListTaskSpecification)

public:
    // The lists are borrowed and read only when the stage executes, after
    // the earlier stages have filled them.
    FileReplaceListTaskSpecification(QList<FileReplaceSpecification> *replaceList,
                                     QList<QString> *deleteList, Configuration *configuration,
                                     QObject *parent, double weight);

    const RollbackDataList &getRollbackList() const { return rollbackList; }

public slots:
    void execute() override;
    void reset() override;

protected:
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();
    // Adds one directory creation per missing directory; returns how many.
    int makeSubdirTasks();
    void makeFileReplaceTasks(bool withDirectories);

    QList<FileReplaceSpecification> *replaceList;
    QList<QString> *deleteList;
    // Directory creations and the records of every completed replacement.
    RollbackDataList rollbackList;
    Configuration *configuration;
};
