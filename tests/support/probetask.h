#pragma once

#include "tasks/taskspecification.h"

#include <QStringList>

// A leaf task for tests whose behaviour on execute() is chosen up front and
// which writes what happens to it into a shared event log.
class ProbeTask final : public TaskSpecification
{
public:
    enum Behaviour {
        FinishAtOnce,
        ErrorAtOnce,
        StayRunning,
    };

    ProbeTask(const QString &name, QObject *parent, double weight, QStringList *log,
              Behaviour behaviour = FinishAtOnce)
        : TaskSpecification(parent, weight), name(name), log(log), behaviour(behaviour)
    {
    }

    void execute() override
    {
        record(QStringLiteral("execute"));
        state = Running;
        if (behaviour == FinishAtOnce)
            finish();
        else if (behaviour == ErrorAtOnce)
            errorCancel();
    }

    void userCanceled() override
    {
        record(QStringLiteral("userCanceled"));
        TaskSpecification::userCanceled();
    }

    void handleOtherTaskCancelled(TaskSpecification *) override
    {
        record(QStringLiteral("otherCancelled"));
    }

    void timeTick(quint64 &done, quint64 &total, quint64 &speed, bool &downloading) override
    {
        done = figures[0];
        total = figures[1];
        speed = figures[2];
        downloading = figures[3] != 0;
    }

    // Test hooks around the protected ends.
    void doFinish() { finish(); }
    void doErrorCancel() { errorCancel(); }
    void doUserCancel() { userCancel(); }
    void doSetProgress(double fraction) { setProgress(fraction); }

    quint64 figures[4] = {0, 0, 0, 0};

private:
    void record(const QString &event)
    {
        if (log)
            log->append(name + QLatin1Char(':') + event);
    }

    QString name;
    QStringList *log;
    Behaviour behaviour;
};
