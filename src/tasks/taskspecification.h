#pragma once

#include <QObject>

// One step of an update. A task has a small life-cycle state, a progress
// value weighted by its share of its parent, a user-cancel request flag and
// six signals through which it reports to whoever started it.
class TaskSpecification : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskSpecification)

public:
    enum State {
        Idle = 0,
        Running = 1,
        Finished = 2,
        ErrorCanceled = 3,
        UserCanceled = 4,
    };
    Q_ENUM(State)

    TaskSpecification(QObject *parent, double weight);

    State getState() const { return state; }
    double getProgress() const { return progress; }
    double getParentProgressRange() const { return parentProgressRange; }
    bool isUserCancelRequested() const { return userCancelRequested; }

    void setParentProgressRange(double weight);

public slots:
    virtual void execute() = 0;
    virtual void reset();
    // Adds this task's download figures; the caller passes zeros and false.
    virtual void timeTick(quint64 &downloadDone, quint64 &downloadTotal, quint64 &speed,
                          bool &downloading);
    virtual void userCanceled();
    virtual void handleOtherTaskCancelled(TaskSpecification *other);

    void onOtherTaskCancelled(TaskSpecification *other);

signals:
    void finished(TaskSpecification *task);
    void canceled(TaskSpecification *task);
    void error(const QString &errorMessage);
    void updateProgress(qreal doneFrac);
    void message(const QString &message);
    void otherTaskCancelled(TaskSpecification *task);

protected:
    // The three ways to end. They do not look at the state: whoever calls
    // them makes sure that a task ends once per run.
    void finish();
    void errorCancel();
    void userCancel();

    void setProgress(double doneFraction);

    bool userCancelRequested = false;
    double parentProgressRange;
    double progress = 0.0;
    State state = Idle;
};
