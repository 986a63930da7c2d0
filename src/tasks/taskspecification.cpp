#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject *parent, double weight)
    : QObject(parent), parentProgressRange(weight)
{
}

void TaskSpecification::setParentProgressRange(double weight)
{
    parentProgressRange = weight;
}

void TaskSpecification::reset()
{
    userCancelRequested = false;
    state = Idle;
    setProgress(0.0);
}

void TaskSpecification::timeTick(quint64 &downloadDone, quint64 &downloadTotal, quint64 &speed,
                                 bool &downloading)
{
    downloadDone = 0;
    downloadTotal = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::userCanceled()
{
    userCancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification *)
{
}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification *other)
{
    if (other != this && state == Running)
        handleOtherTaskCancelled(other);
}

void TaskSpecification::finish()
{
    state = Finished;
    // Parents read the final progress before they learn that the task ended.
    setProgress(1.0);
    emit finished(this);
}

void TaskSpecification::errorCancel()
{
    state = ErrorCanceled;
    emit canceled(this);
}

void TaskSpecification::userCancel()
{
    state = UserCanceled;
    emit canceled(this);
}

void TaskSpecification::setProgress(double doneFraction)
{
    progress = doneFraction * parentProgressRange;
    emit updateProgress(progress);
}
