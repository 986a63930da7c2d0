#include "filereplacelisttaskspecification.h"

#include "core/configuration.h"
#include "install/filereplacetaskspecification.h"
#include "tasks/dircreatetaskspecification.h"

#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
        QList<FileReplaceSpecification> *replaceList, QList<QString> *deleteList,
        Configuration *configuration, QObject *parent, double weight)
    : ComposedTaskSpecification(2, weight, parent),
      replaceList(replaceList),
      deleteList(deleteList),
      configuration(configuration)
{
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart()
{
    const int directories = makeSubdirTasks();
    makeFileReplaceTasks(directories > 0);
    state = Running;
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks()
{
    const QString root = Configuration::getAppRootPath() + QLatin1Char('/');
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification &entry : std::as_const(*replaceList)) {
        const QString directory = QFileInfo(root + entry.destFileName(QString())).path();
        if (seen.contains(directory))
            continue;
        seen.insert(directory);
        if (!QFileInfo(directory).isDir())
            missing.append(directory);
    }

    // Plain character order puts a directory before the ones inside it. The
    // creations finish inside their own start, and they come before every
    // replacement, so all directories exist before the first file is written.
    std::sort(missing.begin(), missing.end());
    const int count = int(missing.size());
    for (const QString &directory : std::as_const(missing))
        addSubTask(new DirCreateTaskSpecification(directory, &rollbackList, this, 0.1 / count));
    return count;
}

void FileReplaceListTaskSpecification::makeFileReplaceTasks(bool withDirectories)
{
    if (replaceList->isEmpty())
        return;
    const double weight = (withDirectories ? 0.9 : 1.0) / double(replaceList->size());
    for (const FileReplaceSpecification &entry : std::as_const(*replaceList)) {
        addSubTask(new FileReplaceTaskSpecification(entry, deleteList, &rollbackList,
                                                    configuration, this, weight));
    }
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    // A replacement that failed has undone its own changes already; what is
    // left to undo are the completed ones and the new directories.
    if (getStateFromSubTasks() != Finished) {
        emit message(QStringLiteral("rolling back file updates"));
        rollbackList.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset()
{
    // Replacements still at work undo their own changes first, so that
    // nothing they write lands after the stage's undo.
    const QList<TaskSpecification *> running = runningTasks;
    for (TaskSpecification *task : running)
        task->reset();
    clearSubTasks();
    rollbackList.rollback(this);
    TaskSpecification::reset();
}
