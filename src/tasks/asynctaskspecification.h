#pragma once

#include "taskspecification.h"

#include <atomic>
#include <memory>

class ASyncFunc;

// A task whose work is a function object run on the global thread pool. The
// task lives on the GUI thread, turns the function's signals into its own and
// ends when the function's result arrives. Cancellation does not interrupt
// the function: it runs to its end and its result ends the task.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ASyncTaskSpecification)

public:
    ASyncTaskSpecification(QObject *parent, double weight);
    ~ASyncTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;

protected:
    // A new function object holding its own copies of everything it needs.
    virtual ASyncFunc *createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc *function);
    virtual void runDone(bool res);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);

private:
    // Shared with the runnable of the latest run, see ASyncRun.
    std::shared_ptr<std::atomic_bool> runAbandoned;
};
