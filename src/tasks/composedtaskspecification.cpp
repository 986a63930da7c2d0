#include "composedtaskspecification.h"

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallelTasks, double weight,
                                                     QObject *parent)
    : TaskSpecification(parent, weight), maxParallelTasks(maxParallelTasks)
{
    connect(this, &ComposedTaskSpecification::startNextTask, this,
            &ComposedTaskSpecification::onStartNextTask, Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    clearSubTasks();
}

void ComposedTaskSpecification::addSubTask(TaskSpecification *task)
{
    subTasks.append(task);
    waitingTasks.append(task);
    connectSignals(task);
    onUpdateProgress(0.0);
}

void ComposedTaskSpecification::connectSignals(TaskSpecification *task)
{
    connect(task, &TaskSpecification::finished, this,
            &ComposedTaskSpecification::onSubTaskFinished);
    connect(task, &TaskSpecification::canceled, this,
            &ComposedTaskSpecification::onSubTaskCanceled);
    connect(task, &TaskSpecification::error, this, &TaskSpecification::error);
    connect(task, &TaskSpecification::updateProgress, this,
            &ComposedTaskSpecification::onUpdateProgress);
    connect(task, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, task,
            &TaskSpecification::onOtherTaskCancelled);
}

void ComposedTaskSpecification::executeSubTasks()
{
    state = Running;
    const int n = qMin(int(waitingTasks.size()), maxParallelTasks);
    if (n == 0) {
        doneReported = true;
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

void ComposedTaskSpecification::onStartNextTask()
{
    if (!waitingTasks.isEmpty() && !cancelPropagated && !userCancelRequested) {
        TaskSpecification *task = waitingTasks.takeFirst();
        runningTasks.append(task);
        task->execute();
    } else if (runningTasks.isEmpty() && !doneReported) {
        doneReported = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification *task)
{
    runningTasks.removeOne(task);
    doneTasks.append(task);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification *task)
{
    runningTasks.removeOne(task);
    doneTasks.append(task);
    if (!cancelPropagated) {
        cancelPropagated = true;
        emit otherTaskCancelled(task);
    }
    if (runningTasks.isEmpty() && !doneReported) {
        doneReported = true;
        subtasksDone();
    }
}

TaskSpecification::State ComposedTaskSpecification::getStateFromSubTasks() const
{
    bool anyUserCanceled = false;
    bool allFinished = true;
    for (const TaskSpecification *task : subTasks) {
        switch (task->getState()) {
        case ErrorCanceled:
            return ErrorCanceled;
        case UserCanceled:
            anyUserCanceled = true;
            allFinished = false;
            break;
        case Finished:
            break;
        default:
            allFinished = false;
            break;
        }
    }
    if (anyUserCanceled)
        return UserCanceled;
    if (allFinished)
        return Finished;
    if (userCancelRequested)
        return UserCanceled;
    if (cancelPropagated)
        return ErrorCanceled;
    return Running;
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (getStateFromSubTasks()) {
    case Finished:
        finish();
        break;
    case UserCanceled:
        userCancel();
        break;
    default:
        errorCancel();
        break;
    }
}

void ComposedTaskSpecification::onUpdateProgress(qreal)
{
    double sum = 0.0;
    for (const TaskSpecification *task : subTasks)
        sum += task->getProgress();
    setProgress(sum);
}

void ComposedTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != Running)
        return;
    // Iterate over a copy: a subtask may end, and its parent react, inside
    // its own userCanceled().
    const QList<TaskSpecification *> tasks = subTasks;
    for (TaskSpecification *task : tasks)
        task->userCanceled();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::timeTick(quint64 &downloadDone, quint64 &downloadTotal,
                                         quint64 &speed, bool &downloading)
{
    downloading = false;
    for (TaskSpecification *task : std::as_const(subTasks)) {
        quint64 done = 0;
        quint64 total = 0;
        quint64 taskSpeed = 0;
        bool taskDownloading = false;
        task->timeTick(done, total, taskSpeed, taskDownloading);
        if (taskDownloading)
            downloading = true;
        speed += taskSpeed;
        if (total != 0) {
            downloadDone += done;
            downloadTotal += total;
        }
    }
}

void ComposedTaskSpecification::reset()
{
    for (TaskSpecification *task : std::as_const(subTasks))
        task->reset();
    waitingTasks = subTasks;
    runningTasks.clear();
    doneTasks.clear();
    cancelPropagated = false;
    doneReported = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::clearSubTasks()
{
    for (TaskSpecification *task : std::as_const(subTasks)) {
        disconnect(task, nullptr, this, nullptr);
        disconnect(this, nullptr, task, nullptr);
        task->deleteLater();
    }
    subTasks.clear();
    waitingTasks.clear();
    runningTasks.clear();
    doneTasks.clear();
    // The flags describe a run of the discarded subtasks; a new set starts
    // afresh, or a task reset after it ended could never end again.
    cancelPropagated = false;
    doneReported = false;
}
