#include "probetask.h"
#include "tasks/taskspecification.h"

#include <QtTest>

namespace {

// Keeps the base's timeTick and handleOtherTaskCancelled.
class PlainTask final : public TaskSpecification
{
public:
    PlainTask() : TaskSpecification(nullptr, 1.0) {}
    void execute() override { state = Running; }
    void setState(State s) { state = s; }
    void doFinish() { finish(); }
    void doErrorCancel() { errorCancel(); }
    void doUserCancel() { userCancel(); }
    void doSetProgress(double f) { setProgress(f); }
    int handled = 0;
    void handleOtherTaskCancelled(TaskSpecification *) override { ++handled; }
};

// Records every signal of a task, in order, as text.
QStringList *watch(TaskSpecification *task, QStringList *log)
{
    QObject::connect(task, &TaskSpecification::updateProgress, task,
                     [log](qreal p) { log->append(QStringLiteral("progress %1").arg(p)); });
    QObject::connect(task, &TaskSpecification::finished, task,
                     [log](TaskSpecification *) { log->append(QStringLiteral("finished")); });
    QObject::connect(task, &TaskSpecification::canceled, task, [log](TaskSpecification *t) {
        log->append(QStringLiteral("canceled %1").arg(int(t->getState())));
    });
    return log;
}

} // namespace

class tst_TaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void weightedProgress();
    void endings_data();
    void endings();
    void resetClearsRequestAndProgress();
    void userCanceledOnlyRecords();
    void otherTaskCancelledReachesOnlyRunningOthers_data();
    void otherTaskCancelledReachesOnlyRunningOthers();
    void baseTimeTickClearsFigures();
};

void tst_TaskSpecification::weightedProgress()
{
    PlainTask task;
    task.setParentProgressRange(0.25);
    QStringList log;
    watch(&task, &log);
    task.doSetProgress(0.5);
    QCOMPARE(task.getProgress(), 0.125);
    // A new weight takes effect with the next progress report only.
    task.setParentProgressRange(0.5);
    QCOMPARE(task.getProgress(), 0.125);
    task.doSetProgress(0.5);
    QCOMPARE(log, QStringList({QStringLiteral("progress 0.125"), QStringLiteral("progress 0.25")}));
}

void tst_TaskSpecification::endings_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<double>("expectedProgress");
    QTest::addColumn<int>("expectedState");

    QTest::newRow("finish")
        << 0 << QStringList({QStringLiteral("progress 0.4"), QStringLiteral("finished")}) << 0.4
        << int(TaskSpecification::Finished);
    QTest::newRow("errorCancel") << 1 << QStringList({QStringLiteral("canceled 3")}) << 0.1
                                 << int(TaskSpecification::ErrorCanceled);
    QTest::newRow("userCancel") << 2 << QStringList({QStringLiteral("canceled 4")}) << 0.1
                                << int(TaskSpecification::UserCanceled);
}

void tst_TaskSpecification::endings()
{
    QFETCH(int, ending);
    QFETCH(QStringList, expectedLog);
    QFETCH(double, expectedProgress);
    QFETCH(int, expectedState);

    PlainTask task;
    task.setParentProgressRange(0.4);
    task.execute();
    task.doSetProgress(0.25);
    QStringList log;
    watch(&task, &log);
    if (ending == 0)
        task.doFinish();
    else if (ending == 1)
        task.doErrorCancel();
    else
        task.doUserCancel();
    QCOMPARE(log, expectedLog);
    QCOMPARE(task.getProgress(), expectedProgress);
    QCOMPARE(int(task.getState()), expectedState);
}

void tst_TaskSpecification::resetClearsRequestAndProgress()
{
    PlainTask task;
    task.execute();
    task.doSetProgress(0.7);
    task.userCanceled();
    task.doUserCancel();
    QStringList log;
    watch(&task, &log);
    task.reset();
    QCOMPARE(log, QStringList({QStringLiteral("progress 0")}));
    QCOMPARE(task.getState(), TaskSpecification::Idle);
    QVERIFY(!task.isUserCancelRequested());
    QCOMPARE(task.getProgress(), 0.0);
}

void tst_TaskSpecification::userCanceledOnlyRecords()
{
    PlainTask task;
    task.execute();
    QStringList log;
    watch(&task, &log);
    task.userCanceled();
    QVERIFY(task.isUserCancelRequested());
    QCOMPARE(task.getState(), TaskSpecification::Running);
    QVERIFY(log.isEmpty());
}

void tst_TaskSpecification::otherTaskCancelledReachesOnlyRunningOthers_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("self");
    QTest::addColumn<int>("expectedCalls");

    QTest::newRow("running, other task") << int(TaskSpecification::Running) << false << 1;
    QTest::newRow("running, itself") << int(TaskSpecification::Running) << true << 0;
    QTest::newRow("idle") << int(TaskSpecification::Idle) << false << 0;
    QTest::newRow("finished") << int(TaskSpecification::Finished) << false << 0;
    QTest::newRow("error-canceled") << int(TaskSpecification::ErrorCanceled) << false << 0;
    QTest::newRow("user-canceled") << int(TaskSpecification::UserCanceled) << false << 0;
}

void tst_TaskSpecification::otherTaskCancelledReachesOnlyRunningOthers()
{
    QFETCH(int, state);
    QFETCH(bool, self);
    QFETCH(int, expectedCalls);

    PlainTask task;
    PlainTask other;
    task.setState(TaskSpecification::State(state));
    task.onOtherTaskCancelled(self ? &task : &other);
    QCOMPARE(task.handled, expectedCalls);
}

void tst_TaskSpecification::baseTimeTickClearsFigures()
{
    PlainTask task;
    quint64 done = 5, total = 6, speed = 7;
    bool downloading = true;
    task.timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(0));
    QCOMPARE(total, quint64(0));
    QCOMPARE(speed, quint64(0));
    QCOMPARE(downloading, false);
}

QTEST_GUILESS_MAIN(tst_TaskSpecification)
#include "tst_taskspecification.moc"
