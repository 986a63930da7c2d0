#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of subtasks that it owns. It starts them in the order added,
// at most maxParallelTasks at a time and each from the event loop, sums their
// progress and download figures, forwards their messages and errors, stops
// starting new ones once one is cancelled, and ends once, with a state derived
// from all of its subtasks.
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComposedTaskSpecification)

public:
    ComposedTaskSpecification(int maxParallelTasks, double weight, QObject *parent);
    ~ComposedTaskSpecification() override;

    void addSubTask(TaskSpecification *task);
    const QList<TaskSpecification *> &getSubTasks() const { return subTasks; }
    int getMaxParallelTasks() const { return maxParallelTasks; }

    void reset() override;
    void timeTick(quint64 &downloadDone, quint64 &downloadTotal, quint64 &speed,
                  bool &downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification *other) override;

protected:
    virtual void subtasksDone();
    virtual void connectSignals(TaskSpecification *task);

    void executeSubTasks();
    State getStateFromSubTasks() const;
    void clearSubTasks();

    QList<TaskSpecification *> subTasks;
    QList<TaskSpecification *> waitingTasks;
    QList<TaskSpecification *> runningTasks;
    QList<TaskSpecification *> doneTasks;
    int maxParallelTasks;
    bool cancelPropagated = false;
    bool doneReported = false;

signals:
    // Queued to onStartNextTask, so that no subtask starts inside the call
    // that asked for it.
    void startNextTask();

private slots:
    void onStartNextTask();
    void onUpdateProgress(qreal doneFrac);
    void onSubTaskFinished(TaskSpecification *task);
    void onSubTaskCanceled(TaskSpecification *task);
};
