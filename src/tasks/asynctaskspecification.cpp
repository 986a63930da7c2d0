#include "asynctaskspecification.h"

#include "asyncfunc.h"
#include "asyncrun.h"

#include <QCoreApplication>
#include <QThreadPool>

ASyncTaskSpecification::ASyncTaskSpecification(QObject *parent, double weight)
    : TaskSpecification(parent, weight)
{
}

ASyncTaskSpecification::~ASyncTaskSpecification()
{
    // A function that has not started yet is dropped; one that runs cannot be
    // interrupted, but its queued signals die with this object.
    if (runAbandoned)
        runAbandoned->store(true);
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc *function = createFunction();
    connectDefaultSignals(function);
    // The worker that picks the function up adopts it.
    function->moveToThread(nullptr);
    runAbandoned = std::make_shared<std::atomic_bool>(false);
    QThreadPool::globalInstance()->start(new ASyncRun(function, runAbandoned), 0);
    // The function's signals are queued, so none reaches us before this.
    state = Running;
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
    // Every signal of the abandoned run is now waiting in the event queue.
    // Deliver them while the task is Idle, where a result ends nothing, so
    // that a stale result cannot end a run started after this reset.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc *function)
{
    connect(function, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult,
            Qt::QueuedConnection);
    connect(function, &ASyncFunc::message, this, &TaskSpecification::message,
            Qt::QueuedConnection);
    connect(function, &ASyncFunc::error, this, &TaskSpecification::error,
            Qt::QueuedConnection);
    connect(function, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress,
            Qt::QueuedConnection);
}

void ASyncTaskSpecification::runDone(bool res)
{
    if (state != Running)
        return;
    if (res)
        finish();
    else
        errorCancel();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal progress)
{
    // Progress of a run that was reset away must not move an idle task.
    if (state == Running)
        setProgress(progress);
}
