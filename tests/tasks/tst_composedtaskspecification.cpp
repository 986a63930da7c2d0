#include "probetask.h"
#include "tasks/composedtaskspecification.h"

#include <QPointer>
#include <QtTest>

namespace {

using Behaviours = QList<ProbeTask::Behaviour>;

// A composed task whose subtasks are probes with the given behaviours.
class ProbeComposed final : public ComposedTaskSpecification
{
public:
    ProbeComposed(int maxParallel, QStringList *log, const Behaviours &behaviours,
                  const QList<double> &weights = {})
        : ComposedTaskSpecification(maxParallel, 1.0, nullptr), log(log), behaviours(behaviours),
          weights(weights)
    {
        connect(this, &TaskSpecification::finished, this,
                [log](TaskSpecification *) { log->append(QStringLiteral("composed:finished")); });
        connect(this, &TaskSpecification::canceled, this, [log](TaskSpecification *t) {
            log->append(QStringLiteral("composed:canceled %1").arg(int(t->getState())));
        });
    }

    // Builds the subtasks on the first run only, so that a reset task runs
    // the same set again.
    void execute() override
    {
        const bool firstRun = subTasks.isEmpty();
        for (int i = 0; firstRun && i < behaviours.size(); ++i) {
            const double weight = weights.isEmpty() ? 1.0 / behaviours.size() : weights.at(i);
            addSubTask(new ProbeTask(QString(QLatin1Char(char('a' + i))), this, weight, log,
                                     behaviours.at(i)));
        }
        executeSubTasks();
        log->append(QStringLiteral("composed:execute returned"));
    }

    ProbeTask *probe(int i) const { return static_cast<ProbeTask *>(subTasks.at(i)); }
    int running() const { return int(runningTasks.size()); }

private:
    QStringList *log;
    Behaviours behaviours;
    QList<double> weights;
};

QStringList events(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class tst_ComposedTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void runsToItsEnd_data();
    void runsToItsEnd();
    void neverExceedsParallelLimit();
    void sumsWeightedProgress();
    void userCancelTravelsDown_data();
    void userCancelTravelsDown();
    void userAndErrorCancelGiveError();
    void siblingsAreToldOnce();
    void sumsDownloadFigures();
    void resetRunsTheSameSetAgain();
    void destroyedWhileRunningLeavesNothing();
};

void tst_ComposedTaskSpecification::runsToItsEnd_data()
{
    QTest::addColumn<int>("maxParallel");
    QTest::addColumn<Behaviours>("behaviours");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<int>("expectedState");

    // Each start comes from its own event-loop turn, in the order added:
    // nothing starts inside execute(), and no start nests inside another.
    QTest::newRow("no subtasks finish inside execute")
        << 1 << Behaviours{} << events("composed:finished composed:execute-returned")
        << int(TaskSpecification::Finished);
    QTest::newRow("five subtasks, two at a time")
        << 2 << Behaviours(5, ProbeTask::FinishAtOnce)
        << events("composed:execute-returned a:execute b:execute c:execute d:execute e:execute "
                  "composed:finished")
        << int(TaskSpecification::Finished);
    QTest::newRow("second of three fails, third never starts")
        << 1 << Behaviours{ProbeTask::FinishAtOnce, ProbeTask::ErrorAtOnce, ProbeTask::FinishAtOnce}
        << events("composed:execute-returned a:execute b:execute composed:canceled-3")
        << int(TaskSpecification::ErrorCanceled);
}

void tst_ComposedTaskSpecification::runsToItsEnd()
{
    QFETCH(int, maxParallel);
    QFETCH(Behaviours, behaviours);
    QFETCH(QStringList, expectedLog);
    QFETCH(int, expectedState);

    QStringList log;
    ProbeComposed task(maxParallel, &log, behaviours);
    task.execute();
    QTRY_COMPARE(int(task.getState()), expectedState);
    QTest::qWait(10);
    log.replaceInStrings(QStringLiteral(" "), QStringLiteral("-"));
    QCOMPARE(log, expectedLog);
    if (behaviours.size() == 3)
        QCOMPARE(task.probe(2)->getState(), TaskSpecification::Idle);
}

void tst_ComposedTaskSpecification::neverExceedsParallelLimit()
{
    QStringList log;
    ProbeComposed task(2, &log, Behaviours(4, ProbeTask::StayRunning));
    task.execute();
    QTRY_COMPARE(task.running(), 2);
    QTest::qWait(10);
    QCOMPARE(task.running(), 2);
    QCOMPARE(task.probe(2)->getState(), TaskSpecification::Idle);

    task.probe(1)->doFinish();
    QTRY_COMPARE(task.probe(2)->getState(), TaskSpecification::Running);
    QCOMPARE(task.running(), 2);
    QCOMPARE(task.probe(3)->getState(), TaskSpecification::Idle);
}

void tst_ComposedTaskSpecification::sumsWeightedProgress()
{
    QStringList log;
    ProbeComposed task(1, &log,
                       {ProbeTask::FinishAtOnce, ProbeTask::FinishAtOnce, ProbeTask::StayRunning,
                        ProbeTask::StayRunning, ProbeTask::StayRunning},
                       {0.1, 0.05, 0.4, 0.4, 0.05});
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);
    task.execute();
    QTRY_COMPARE(task.probe(2)->getState(), TaskSpecification::Running);
    task.probe(2)->doSetProgress(0.5);
    QVERIFY(qFuzzyCompare(progress.last().at(0).toDouble(), 0.35));
}

void tst_ComposedTaskSpecification::userCancelTravelsDown_data()
{
    QTest::addColumn<int>("subtasks");
    QTest::addColumn<int>("expectedState");

    // The two running subtasks ignore the request and finish; what was left
    // unstarted makes the whole a user cancel.
    QTest::newRow("unstarted subtasks left") << 4 << int(TaskSpecification::UserCanceled);
    QTest::newRow("nothing left unstarted") << 2 << int(TaskSpecification::Finished);
}

void tst_ComposedTaskSpecification::userCancelTravelsDown()
{
    QFETCH(int, subtasks);
    QFETCH(int, expectedState);

    QStringList log;
    ProbeComposed task(2, &log, Behaviours(subtasks, ProbeTask::StayRunning));
    task.execute();
    QTRY_COMPARE(task.running(), 2);
    log.clear();

    task.userCanceled();
    QStringList expected;
    for (int i = 0; i < subtasks; ++i)
        expected << QString(QLatin1Char(char('a' + i))) + QStringLiteral(":userCanceled");
    QCOMPARE(log, expected);

    task.probe(0)->doFinish();
    task.probe(1)->doFinish();
    QTRY_COMPARE(int(task.getState()), expectedState);
    for (int i = 2; i < subtasks; ++i)
        QCOMPARE(task.probe(i)->getState(), TaskSpecification::Idle);
}

void tst_ComposedTaskSpecification::userAndErrorCancelGiveError()
{
    QStringList log;
    ProbeComposed task(2, &log, Behaviours(2, ProbeTask::StayRunning));
    task.execute();
    QTRY_COMPARE(task.running(), 2);
    task.probe(0)->doUserCancel();
    QCOMPARE(task.getState(), TaskSpecification::Running);
    task.probe(1)->doErrorCancel();
    QCOMPARE(task.getState(), TaskSpecification::ErrorCanceled);
}

void tst_ComposedTaskSpecification::siblingsAreToldOnce()
{
    QStringList log;
    ProbeComposed task(3, &log, Behaviours(3, ProbeTask::StayRunning));
    QSignalSpy notices(&task, &TaskSpecification::otherTaskCancelled);
    task.execute();
    QTRY_COMPARE(task.running(), 3);
    log.clear();

    task.probe(0)->doErrorCancel();
    QCOMPARE(log, events("b:otherCancelled c:otherCancelled"));
    task.probe(1)->doErrorCancel();
    QCOMPARE(notices.size(), 1);
    QCOMPARE(task.getState(), TaskSpecification::Running);
    task.probe(2)->doFinish();
    QTRY_COMPARE(task.getState(), TaskSpecification::ErrorCanceled);
    QCOMPARE(log.count(QStringLiteral("composed:canceled 3")), 1);
}

void tst_ComposedTaskSpecification::sumsDownloadFigures()
{
    QStringList log;
    ProbeComposed task(2, &log, Behaviours(3, ProbeTask::StayRunning));
    task.execute();
    const quint64 first[4] = {300, 1000, 50, 1};
    const quint64 second[4] = {20, 0, 5, 1};
    std::copy(first, first + 4, task.probe(0)->figures);
    std::copy(second, second + 4, task.probe(1)->figures);

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task.timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(300));
    QCOMPARE(total, quint64(1000));
    QCOMPARE(speed, quint64(55));
    QCOMPARE(downloading, true);
}

void tst_ComposedTaskSpecification::resetRunsTheSameSetAgain()
{
    QStringList log;
    ProbeComposed task(1, &log, {ProbeTask::FinishAtOnce, ProbeTask::FinishAtOnce});
    task.execute();
    QTRY_COMPARE(task.getState(), TaskSpecification::Finished);
    ProbeTask *first = task.probe(0);

    task.reset();
    QCOMPARE(task.getState(), TaskSpecification::Idle);
    QCOMPARE(task.getProgress(), 0.0);
    QCOMPARE(first->getState(), TaskSpecification::Idle);
    log.clear();
    // The same subtasks run again, without building new ones.
    task.execute();
    QTRY_COMPARE(task.getState(), TaskSpecification::Finished);
    QCOMPARE(task.getSubTasks().size(), 2);
    QCOMPARE(task.probe(0), first);
    QCOMPARE(log.count(QStringLiteral("composed:finished")), 1);
}

void tst_ComposedTaskSpecification::destroyedWhileRunningLeavesNothing()
{
    QStringList log;
    auto *task = new ProbeComposed(1, &log, Behaviours(3, ProbeTask::FinishAtOnce));
    task->execute();
    QPointer<TaskSpecification> first = task->getSubTasks().first();
    // A start is queued in the event loop; destroying the task must drop it.
    delete task;
    QVERIFY(first.isNull());
    QTest::qWait(20);
    QCOMPARE(log, QStringList{QStringLiteral("composed:execute returned")});
}

QTEST_GUILESS_MAIN(tst_ComposedTaskSpecification)
#include "tst_composedtaskspecification.moc"
