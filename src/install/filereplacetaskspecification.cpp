#include "filereplacetaskspecification.h"

#include "core/configuration.h"
#include "core/programvalues.h"
#include "crypto/checksignaturetaskspecification.h"
#include "tasks/filecopytaskspecification.h"
#include "tasks/filedeletetaskspecification.h"
#include "tasks/filerenametaskspecification.h"
#include "tasks/fileunziptaskspecification.h"

#include <QFile>
#include <QFileInfo>

FileReplaceTaskSpecification::FileReplaceTaskSpecification(
        const FileReplaceSpecification &replace, QList<QString> *deleteList,
        RollbackDataList *parentRollbackList, Configuration *configuration, QObject *parent,
        double weight)
    : ComposedTaskSpecification(1, weight, parent),
      replaceSpecification(replace),
      deleteList(deleteList),
      parentRollbackList(parentRollbackList),
      configuration(configuration)
{
}

void FileReplaceTaskSpecification::execute()
{
    emit message(QStringLiteral("add/replace %1").arg(replaceSpecification.fileName));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    const QString root = Configuration::getAppRootPath() + QLatin1Char('/');
    const QString source = configuration->tempDir + QLatin1Char('/') + replaceSpecification.fileName;
    const QString dest = root + replaceSpecification.destFileName(QString());
    const QString movedAsideName = root + replaceSpecification.oldDestFileName();

    // The copy and the unpack never overwrite, so an installed file has to
    // make room first; the rename in turn needs the "_old_" name to be free.
    double remaining = 1.0;
    if (QFileInfo::exists(dest)) {
        if (QFileInfo::exists(movedAsideName)) {
            addSubTask(new FileDeleteTaskSpecification(true, movedAsideName, this, 0.1));
            remaining = 0.9;
        }
        movedAside = true;
        addSubTask(new FileRenameTaskSpecification(dest, movedAsideName, &rollbackList, this, 0.1));
        remaining -= 0.1;
    }

    if (replaceSpecification.hasUnzip()) {
        addSubTask(new FileUnzipTaskSpecification(&rollbackList, source, dest, this,
                                                  remaining - 0.2));
        addSubTask(new CheckSignatureTaskSpecification(dest, replaceSpecification.unzipMd5, true,
                                                       this, 0.2));
    } else {
        addSubTask(new FileCopyTaskSpecification(&rollbackList, source, dest, this, remaining));
    }

    state = Running;
    executeSubTasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    // A user cancel that arrives while the last subtask runs does not stop
    // the replacement: everything finished, so it commits like any other.
    if (getStateFromSubTasks() == Finished) {
        parentRollbackList->appendList(rollbackList);
        if (movedAside) {
            const QString name = QFileInfo(replaceSpecification.pureDestFilePath()).fileName();
            // The running updater may still use its own files; their old
            // copies go at its next start instead.
            if (!configuration->isSpecialFileName(name))
                deleteList->append(replaceSpecification.oldDestFileName());
        }
        makeSingleFileExecutable(Configuration::getAppRootPath() + QLatin1Char('/')
                                 + replaceSpecification.destFileName(QString()));
    } else {
        rollbackList.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::reset()
{
    // A copy or unpack still at work would create its file after the undo
    // below; let it end first so that its file is journalled and undone too.
    const QList<TaskSpecification *> running = runningTasks;
    for (TaskSpecification *task : running)
        task->reset();
    clearSubTasks();
    rollbackList.rollback(this);
    movedAside = false;
    TaskSpecification::reset();
}

void FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path)
{
    const QFileInfo info(path);
    if (!executableFiles.contains(info.fileName())
        && !executableSuffixes.contains(info.completeSuffix()))
        return;
    QFile::setPermissions(path,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                  | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser
                                  | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                  | QFile::ExeOther);
}
