#pragma once

#include <QObject>

// The slow part of a background task: run() executes on a worker thread of
// the global thread pool. Everything a function needs is copied into it when
// its task creates it, and everything it reports leaves through its signals,
// which its task receives through queued connections on the GUI thread.
class ASyncFunc : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ASyncFunc)

public:
    ASyncFunc();

    virtual bool run() = 0;

    // Runs the work and reports its result; the result is always the last
    // signal of a function.
    void execute();

signals:
    void runResult(bool res);
    void message(const QString &message);
    void error(const QString &errorMessage);
    void progress(qreal progress);
};
