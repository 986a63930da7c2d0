#include "tasks/asyncfunc.h"
#include "tasks/asynctaskspecification.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

namespace {

// What the test learns about the functions of one task.
struct Probe
{
    QSemaphore gate;
    QSemaphore started;
    std::atomic<QThread *> runThread{ nullptr };
    std::atomic_int ran{ 0 };
    std::atomic_int alive{ 0 };
};

// Plays a script: "m:text" emits a message, "e:text" an error, "p:0.5"
// progress, and "wait" blocks until the test opens the gate.
class ScriptFunc final : public ASyncFunc
{
public:
    ScriptFunc(const QStringList &steps, bool result, Probe *probe)
        : steps(steps), result(result), probe(probe)
    {
        ++probe->alive;
    }
    ~ScriptFunc() override { --probe->alive; }

    bool run() override
    {
        probe->runThread = QThread::currentThread();
        ++probe->ran;
        probe->started.release();
        for (const QString &step : std::as_const(steps)) {
            const QString arg = step.mid(2);
            if (step == u"wait")
                probe->gate.acquire();
            else if (step.startsWith(u"m:"))
                emit message(arg);
            else if (step.startsWith(u"e:"))
                emit error(arg);
            else
                emit progress(arg.toDouble());
        }
        return result;
    }

private:
    QStringList steps;
    bool result;
    Probe *probe;
};

class ScriptTask final : public ASyncTaskSpecification
{
public:
    ScriptTask(const QStringList &steps, bool result, Probe *probe, double weight = 1.0)
        : ASyncTaskSpecification(nullptr, weight), steps(steps), result(result), probe(probe)
    {
    }

    QStringList steps;
    bool result;

protected:
    ASyncFunc *createFunction() override { return new ScriptFunc(steps, result, probe); }

private:
    Probe *probe;
};

// Records every signal of a task, and whether each arrived on the GUI thread.
class Observer final : public QObject
{
public:
    explicit Observer(TaskSpecification *task)
    {
        connect(task, &TaskSpecification::message, this,
                [this](const QString &text) { record(u"message:"_qs + text); });
        connect(task, &TaskSpecification::error, this,
                [this](const QString &text) { record(u"error:"_qs + text); });
        connect(task, &TaskSpecification::updateProgress, this,
                [this](qreal p) { record(u"progress:"_qs + QString::number(p)); });
        connect(task, &TaskSpecification::finished, this,
                [this](TaskSpecification *) { record(u"finished"_qs); });
        connect(task, &TaskSpecification::canceled, this,
                [this](TaskSpecification *) { record(u"canceled"_qs); });
    }

    QStringList log;
    bool offGuiThread = false;

private:
    void record(const QString &event)
    {
        log.append(event);
        if (QThread::currentThread() != qApp->thread())
            offGuiThread = true;
    }
};

// Opens the gate from another thread after a while, for tests in which the
// GUI thread itself is blocked.
void openGateLater(Probe *probe, int ms)
{
    QThread *thread = QThread::create([probe, ms] {
        QThread::msleep(ms);
        probe->gate.release();
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace

class tst_ASyncTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void signalsReachGuiThreadInOrder_data();
    void signalsReachGuiThreadInOrder();
    void userCancelLetsFunctionFinish();
    void resetWaitsForThePool();
    void destroyedWhileRunning_data();
    void destroyedWhileRunning();
};

void tst_ASyncTaskSpecification::signalsReachGuiThreadInOrder_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<TaskSpecification::State>("expectedState");

    QTest::newRow("success") << QStringList{ u"m:working"_qs, u"p:0.5"_qs } << true
                             << QStringList{ u"message:working"_qs, u"progress:0.1"_qs,
                                             u"progress:0.2"_qs, u"finished"_qs }
                             << TaskSpecification::Finished;
    QTest::newRow("failure") << QStringList{ u"m:broken"_qs, u"e:shown"_qs, u"p:0.5"_qs } << false
                             << QStringList{ u"message:broken"_qs, u"error:shown"_qs,
                                             u"progress:0.1"_qs, u"canceled"_qs }
                             << TaskSpecification::ErrorCanceled;
}

void tst_ASyncTaskSpecification::signalsReachGuiThreadInOrder()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, result);
    QFETCH(QStringList, expectedLog);
    QFETCH(TaskSpecification::State, expectedState);

    Probe probe;
    ScriptTask task(steps, result, &probe, 0.2);
    Observer observer(&task);

    task.execute();
    // Nothing arrives inside execute(): the function's signals are queued.
    QCOMPARE(task.getState(), TaskSpecification::Running);
    QVERIFY(observer.log.isEmpty());

    QTRY_COMPARE(task.getState(), expectedState);
    QCOMPARE(observer.log, expectedLog);
    QVERIFY(!observer.offGuiThread);
    QVERIFY(probe.runThread != nullptr);
    QVERIFY(probe.runThread != qApp->thread());
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(probe.alive.load(), 0);
}

void tst_ASyncTaskSpecification::userCancelLetsFunctionFinish()
{
    Probe probe;
    ScriptTask task({ u"wait"_qs }, true, &probe);
    Observer observer(&task);

    task.execute();
    QVERIFY(probe.started.tryAcquire(1, 5000));
    task.userCanceled();
    QCOMPARE(task.getState(), TaskSpecification::Running);
    probe.gate.release();

    QTRY_COMPARE(task.getState(), TaskSpecification::Finished);
    QCOMPARE(observer.log, (QStringList{ u"progress:1"_qs, u"finished"_qs }));
}

// The reset blocks until the function has returned. Its late result ends
// neither the reset task nor a run started right after the reset, before the
// event loop has turned.
void tst_ASyncTaskSpecification::resetWaitsForThePool()
{
    Probe probe;
    ScriptTask task({ u"wait"_qs, u"m:late"_qs, u"p:0.5"_qs }, false, &probe);
    Observer observer(&task);

    task.execute();
    QVERIFY(probe.started.tryAcquire(1, 5000));
    openGateLater(&probe, 100);
    task.reset();

    QCOMPARE(probe.ran.load(), 1);
    QCOMPARE(probe.alive.load(), 0);
    QCOMPARE(task.getState(), TaskSpecification::Idle);
    QCOMPARE(task.getProgress(), 0.0);

    task.steps = QStringList{ u"m:again"_qs };
    task.result = true;
    task.execute();
    QTRY_COMPARE(task.getState(), TaskSpecification::Finished);
    QTest::qWait(20);
    QCOMPARE(observer.log, (QStringList{ u"progress:0"_qs, u"message:late"_qs, u"message:again"_qs,
                                         u"progress:1"_qs, u"finished"_qs }));
}

void tst_ASyncTaskSpecification::destroyedWhileRunning_data()
{
    QTest::addColumn<bool>("waitingForWorker");

    QTest::newRow("function running") << false;
    QTest::newRow("function waiting for a worker") << true;
}

void tst_ASyncTaskSpecification::destroyedWhileRunning()
{
    QFETCH(bool, waitingForWorker);

    QThreadPool *pool = QThreadPool::globalInstance();
    const int maxThreads = pool->maxThreadCount();
    Probe blockerProbe;
    std::unique_ptr<ScriptTask> blocker;
    if (waitingForWorker) {
        // With one worker busy, the task's function can only queue.
        pool->setMaxThreadCount(1);
        blocker = std::make_unique<ScriptTask>(QStringList{ u"wait"_qs }, true, &blockerProbe);
        blocker->execute();
        QVERIFY(blockerProbe.started.tryAcquire(1, 5000));
    }

    Probe probe;
    auto task = std::make_unique<ScriptTask>(
            QStringList{ u"wait"_qs, u"m:late"_qs, u"e:late"_qs, u"p:0.5"_qs }, true, &probe);
    Observer observer(task.get());
    task->execute();
    if (!waitingForWorker)
        QVERIFY(probe.started.tryAcquire(1, 5000));

    task.reset();
    probe.gate.release();
    blockerProbe.gate.release();
    pool->waitForDone();
    pool->setMaxThreadCount(maxThreads);
    QTest::qWait(50);

    QCOMPARE(probe.ran.load(), waitingForWorker ? 0 : 1);
    QCOMPARE(probe.alive.load(), 0);
    QVERIFY(observer.log.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ASyncTaskSpecification)
#include "tst_asynctaskspecification.moc"
