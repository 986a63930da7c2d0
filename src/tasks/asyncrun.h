#pragma once

#include <QRunnable>

#include <atomic>
#include <memory>

class ASyncFunc;

// Carries one function object through the global thread pool. The pool
// deletes the runnable once run() has returned, and the runnable deletes the
// function, so both end on the worker thread after the last signal.
class ASyncRun final : public QRunnable
{
    Q_DISABLE_COPY_MOVE(ASyncRun)

public:
    // abandoned is set by the task when it is destroyed; a function whose
    // task is gone by the time a worker picks it up is not run at all.
    ASyncRun(ASyncFunc *function, std::shared_ptr<const std::atomic_bool> abandoned);
    ~ASyncRun() override;

    void run() override;

private:
    ASyncFunc *function;
    std::shared_ptr<const std::atomic_bool> abandoned;
};
