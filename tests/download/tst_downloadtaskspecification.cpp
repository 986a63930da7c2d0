#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <array>
#include <memory>
#include <vector>

#include "core/configuration.h"
#include "core/randomsource.h"
#include "download/downloadtaskspecification.h"
#include "download/mirrors.h"
#include "faultserver.h"
#include "nginxserver.h"

namespace {

constexpr int version = 1234;
constexpr double weight = 0.5;

const QString smallPath = QStringLiteral("data/small.bin");
const QString largePath = QStringLiteral("data/large.bin");
const QString emptyPath = QStringLiteral("data/empty.bin");
const QString oddPath = QStringLiteral("data/odd name #1 100%.bin");

struct MirrorEntry
{
    QString name;
    QString url;
    // 0 leaves the default.
    int retries = 0;
};

// A seed under which the pool's next draws fall into the given ranges; each
// entry is {number of free slots, lowest, highest}. Found by trying, so the
// tests do not depend on how the generator maps seeds to numbers.
quint32 seedFor(const QList<std::array<int, 3>> &draws)
{
    for (quint32 seed = 1; seed < 100000; ++seed) {
        RandomSource::seed(seed);
        bool matches = true;
        for (const std::array<int, 3> &draw : draws) {
            const int r = RandomSource::bounded(draw[0]);
            if (r < draw[1] || r > draw[2]) {
                matches = false;
                break;
            }
        }
        if (matches)
            return seed;
    }
    qFatal("no seed gives the wanted draws");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

struct Figures
{
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
};

Figures tick(TaskSpecification *task)
{
    Figures figures;
    task->timeTick(figures.done, figures.total, figures.speed, figures.downloading);
    return figures;
}

} // namespace

class tst_DownloadTaskSpecification : public QObject
{
    Q_OBJECT

private:
    void makePool(const QList<MirrorEntry> &entries);
    void makeAlphaPool(const QString &address);
    DownloadTaskSpecification *newTask(const QString &sourcePath, qint64 expectedSize);
    QString target(const QString &sourcePath) const { return tempDir->filePath(sourcePath); }
    const FTPSiteAccessData *poolMirror(const QString &name) const;
    int slotsInUse() const;
    QByteArray content(const QString &sourcePath) const
    {
        return readFile(serverRoot.filePath(QString::number(version) + QLatin1Char('/') + sourcePath));
    }

    QTemporaryDir serverRoot;
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<FaultServer> faults;

    std::unique_ptr<QTemporaryDir> appRoot;
    std::unique_ptr<QTemporaryDir> tempDir;
    std::unique_ptr<QNetworkAccessManager> manager;
    std::unique_ptr<Mirrors> pool;
    std::vector<std::unique_ptr<DownloadTaskSpecification>> tasks;
    // Messages of the tasks and of the pool, in the order they came.
    QStringList log;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void goodDownload_data();
    void goodDownload();
    void failedAttempts_data();
    void failedAttempts();
    void retryOnAnotherMirror_data();
    void retryOnAnotherMirror();
    void stalledTransfer_data();
    void stalledTransfer();
    void waitsForFreeSlot();
    void cancelWhileTransferring_data();
    void cancelWhileTransferring();
    void cancelWhileWaitingForSlot_data();
    void cancelWhileWaitingForSlot();
    void userCancelWhenNotRunning();
    void destroyWhileRunning();
    void targetNotWritable();
    void resetAfterFinishAndRunAgain();
    void extraBytesDoNotReachNextDownload();
};

void tst_DownloadTaskSpecification::initTestCase()
{
    QVERIFY(serverRoot.isValid());
    const QString base = serverRoot.filePath(QString::number(version)) + QLatin1Char('/');
    QByteArray small(10000, Qt::Uninitialized);
    QByteArray large(1024 * 1024 + 123, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (char &c : small)
        c = char(random.bounded(256));
    for (char &c : large)
        c = char(random.bounded(256));
    QVERIFY(writeFile(base + smallPath, small));
    QVERIFY(writeFile(base + largePath, large));
    QVERIFY(writeFile(base + emptyPath, QByteArray()));
    QVERIFY(writeFile(base + oddPath, small.left(5000)));

    nginx = std::make_unique<NginxServer>(serverRoot.path());
    QVERIFY2(nginx->isRunning(), qPrintable(nginx->errorLog()));
    faults = std::make_unique<FaultServer>(serverRoot.path());
    QVERIFY(faults->isRunning());
}

void tst_DownloadTaskSpecification::init()
{
    appRoot = std::make_unique<QTemporaryDir>();
    tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(appRoot->isValid());
    QVERIFY(tempDir->isValid());
    Configuration::setAppRootPath(appRoot->path());
    manager = std::make_unique<QNetworkAccessManager>();
    manager->setProxy(QNetworkProxy::NoProxy);
    pool = std::make_unique<Mirrors>(nullptr);
    connect(pool.get(), &Mirrors::message, this, [this](const QString &text) { log.append(text); });
    log.clear();
    QVERIFY(faults->resetStats());
}

void tst_DownloadTaskSpecification::cleanup()
{
    tasks.clear();
    manager.reset();
    pool.reset();
    // Replies released with deferred deletion go now, before the next test.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Configuration::setAppRootPath(QString());
    // Every transfer of the test has ended on the server's side too.
    QTRY_COMPARE(faults->stats().openConnections, 0);
}

void tst_DownloadTaskSpecification::makePool(const QList<MirrorEntry> &entries)
{
    QByteArray ini = "[mirrors]\nsize=" + QByteArray::number(entries.size()) + '\n';
    for (int i = 0; i < entries.size(); ++i)
        ini += QByteArray::number(i + 1) + "\\mirror=" + entries[i].name.toUtf8() + '\n';
    for (const MirrorEntry &entry : entries) {
        ini += '[' + entry.name.toUtf8() + "]\n";
        if (!entry.url.isNull())
            ini += "url=" + entry.url.toUtf8() + '\n';
        if (entry.retries != 0)
            ini += "retries=" + QByteArray::number(entry.retries) + '\n';
    }
    const QString path = QDir(Configuration::getAppRootPath()).filePath(QStringLiteral("mirrors.ini"));
    QVERIFY(writeFile(path, ini));
    QVERIFY(pool->initDefault(path, version));
    QCOMPARE(pool->getMirrors().size(), entries.size());
}

void tst_DownloadTaskSpecification::makeAlphaPool(const QString &address)
{
    const QString path = QDir(Configuration::getAppRootPath()).filePath(QStringLiteral("update.ini"));
    QVERIFY(writeFile(path, "[Channel]\nalpha=" + address.toUtf8() + '\n'));
    QVERIFY(pool->initAlpha(path, version));
}

DownloadTaskSpecification *tst_DownloadTaskSpecification::newTask(const QString &sourcePath,
                                                                  qint64 expectedSize)
{
    tasks.push_back(std::make_unique<DownloadTaskSpecification>(
        manager.get(), pool.get(), sourcePath, target(sourcePath), expectedSize, nullptr, weight));
    DownloadTaskSpecification *task = tasks.back().get();
    connect(task, &TaskSpecification::message, this, [this](const QString &text) { log.append(text); });
    connect(task, &TaskSpecification::error, this,
            [this](const QString &text) { log.append(QStringLiteral("error: ") + text); });
    QDir().mkpath(QFileInfo(target(sourcePath)).path());
    return task;
}

const FTPSiteAccessData *tst_DownloadTaskSpecification::poolMirror(const QString &name) const
{
    const int index = pool->getMirrorIndex(name);
    return index < 0 ? nullptr : &pool->getMirrors().at(index);
}

int tst_DownloadTaskSpecification::slotsInUse() const
{
    int maxTotal = 0;
    int useTotal = 0;
    pool->calcUseStats(maxTotal, useTotal);
    return useTotal;
}

void tst_DownloadTaskSpecification::goodDownload_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("sourcePath");
    QTest::addColumn<qint64>("expectedSize");
    // What timeTick reports as the total once the body is in.
    QTest::addColumn<qint64>("reportedTotal");

    QTest::newRow("size known") << u"nginx"_qs << smallPath << qint64(10000) << qint64(10000);
    QTest::newRow("size from the server") << u"nginx"_qs << smallPath << qint64(-1) << qint64(10000);
    QTest::newRow("large file") << u"nginx"_qs << largePath << qint64(1024 * 1024 + 123)
                                << qint64(1024 * 1024 + 123);
    QTest::newRow("empty file") << u"nginx"_qs << emptyPath << qint64(-1) << qint64(0);
    QTest::newRow("name with space, # and %") << u"nginx"_qs << oddPath << qint64(5000) << qint64(5000);
    QTest::newRow("no content length") << u"nolength=1"_qs << smallPath << qint64(-1) << qint64(0);
    QTest::newRow("body longer than announced") << u"extra=5000"_qs << smallPath << qint64(10000)
                                                << qint64(10000);
}

void tst_DownloadTaskSpecification::goodDownload()
{
    QFETCH(QString, server);
    QFETCH(QString, sourcePath);
    QFETCH(qint64, expectedSize);
    QFETCH(qint64, reportedTotal);

    const QString url = server == u"nginx"_qs ? nginx->url() : faults->url(server);
    makePool({{u"mirror"_qs, url}});
    DownloadTaskSpecification *task = newTask(sourcePath, expectedSize);
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    QSignalSpy progress(task, &TaskSpecification::updateProgress);

    task->execute();
    QCOMPARE(task->getState(), TaskSpecification::Running);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(canceled.count(), 0);
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(log, (QStringList{u"Downloading %1"_qs.arg(sourcePath),
                               u"Downloading %1 finished"_qs.arg(sourcePath)}));

    const QByteArray expected = content(sourcePath);
    QCOMPARE(readFile(target(sourcePath)), expected);
    QCOMPARE(task->getProgress(), weight);

    // With the size given, progress grows by at most one 4096-byte chunk at
    // a time: the body goes to the file in such chunks. Without any size it
    // stays 0 until the end.
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toDouble(), weight);
    double previous = 0.0;
    const double chunkStep = 4096.0 / double(qMax(expectedSize, qint64(1))) * weight;
    for (int i = 0; i + 1 < progress.count(); ++i) {
        const double value = progress.at(i).at(0).toDouble();
        QVERIFY(value >= previous);
        QVERIFY(value <= weight);
        if (reportedTotal == 0)
            QCOMPARE(value, 0.0);
        if (expectedSize > 0)
            QVERIFY2(value - previous <= chunkStep + 1e-12, qPrintable(QString::number(value - previous)));
        previous = value;
    }

    const Figures first = tick(task);
    QCOMPARE(first.done, quint64(expected.size()));
    QCOMPARE(first.total, quint64(reportedTotal));
    QCOMPARE(first.speed, quint64(expected.size()));
    QVERIFY(!first.downloading);
    QCOMPARE(tick(task).speed, quint64(0));

    QCOMPARE(task->getMirror().name, u"mirror"_qs);
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(poolMirror(u"mirror"_qs)->errorCount, 0);
    if (server == u"nginx"_qs) {
        const QString requested = QString::fromLatin1(QUrl::toPercentEncoding(sourcePath, "/"));
        QTRY_VERIFY(nginx->accessLog().contains(
            u"\"GET /%1/%2 HTTP/1.1\" 200"_qs.arg(version).arg(requested)));
    }
}

void tst_DownloadTaskSpecification::failedAttempts_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<qint64>("sizeLimit");
    QTest::addColumn<bool>("removedAtOnce");
    // The text of each failed attempt; %1 stands for the request's address.
    QTest::addColumn<QString>("attemptText");

    const QString larger = u"^data/small\\.bin from mirror faulty is larger than expected: "
                           "(\\d+) bytes received, %1 bytes expected$"_qs;

    QTest::newRow("404") << u"status=404"_qs << qint64(10000) << qint64(0) << true
                         << u"^%1 returned 404$"_qs;
    QTest::newRow("500") << u"status=500"_qs << qint64(10000) << qint64(0) << true
                         << u"^%1 returned 500$"_qs;
    QTest::newRow("302 is not followed") << u"status=302"_qs << qint64(10000) << qint64(0) << true
                                         << u"^%1 returned 302$"_qs;
    QTest::newRow("401") << u"status=401"_qs << qint64(10000) << qint64(0) << true
                         << u"^%1 returned 401$"_qs;
    QTest::newRow("reset in the body") << u"reset=3000"_qs << qint64(10000) << qint64(0) << false
                                       << u"^.+$"_qs;
    QTest::newRow("endless body, size known") << u"endless=1"_qs << qint64(10000) << qint64(0)
                                              << false << larger.arg(10000);
    QTest::newRow("endless body, size capped") << u"endless=1"_qs << qint64(-1) << qint64(65536)
                                               << false << larger.arg(65536);
    QTest::newRow("larger than expected") << QString() << qint64(6000) << qint64(0) << false
                                          << larger.arg(6000);
    QTest::newRow("larger than the cap") << QString() << qint64(-1) << qint64(4096) << false
                                         << larger.arg(4096);
    // A listed mirror without a group has no address: its requests fail at once.
    QTest::newRow("mirror without address") << u"no address"_qs << qint64(10000) << qint64(0) << false
                                            << u"^.+$"_qs;
}

void tst_DownloadTaskSpecification::failedAttempts()
{
    QFETCH(QString, fault);
    QFETCH(qint64, expectedSize);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, removedAtOnce);
    QFETCH(QString, attemptText);

    const QString mirrorUrl = fault == u"no address"_qs ? QString() : faults->url(fault);
    makePool({{u"faulty"_qs, mirrorUrl}});
    DownloadTaskSpecification *task = newTask(smallPath, expectedSize);
    task->setSizeLimit(sizeLimit);
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->execute();
    QTRY_COMPARE(canceled.count(), 1);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QVERIFY(pool->getMirrors().isEmpty());

    // A wrong answer drops the mirror at once; any other failure is counted
    // and the mirror goes with the third one (two tolerated by default).
    const int attempts = removedAtOnce ? 1 : 3;
    QCOMPARE(faults->stats().requests, mirrorUrl.isNull() ? 0 : attempts);
    const QString requestUrl = QString(mirrorUrl + u"/1234/"_qs + smallPath).replace(u"//1234"_qs, u"/1234"_qs);
    const QRegularExpression attempt(
        QString(attemptText).replace(u"%1"_qs, QRegularExpression::escape(requestUrl)));
    QStringList expected{u"Downloading data/small.bin"_qs};
    for (int i = 1; i <= attempts; ++i) {
        if (i == 3)
            expected.append(u"Mirror faulty failed too many times, removing"_qs);
        expected.append(u"attempt"_qs);
    }
    expected.append(u"There are no (more) known working mirrors available"_qs);
    QCOMPARE(log.size(), expected.size());
    for (int i = 0; i < log.size(); ++i) {
        if (expected.at(i) == u"attempt"_qs)
            QVERIFY2(attempt.match(log.at(i)).hasMatch(), qPrintable(log.at(i)));
        else
            QCOMPARE(log.at(i), expected.at(i));
    }
    // The received count is that of the chunk that went over, never more than
    // one chunk beyond the limit.
    const QRegularExpressionMatch over = attempt.match(log.at(1));
    if (over.lastCapturedIndex() == 1) {
        const qint64 limit = expectedSize > 0 ? expectedSize : sizeLimit;
        QVERIFY(over.captured(1).toLongLong() > limit);
        QVERIFY(over.captured(1).toLongLong() <= limit + 4096);
    }

    // Every failed attempt deleted what it had written.
    QVERIFY(!QFile::exists(target(smallPath)));
}

void tst_DownloadTaskSpecification::retryOnAnotherMirror_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("removedAtOnce");

    QTest::newRow("404 removes the mirror") << u"status=404"_qs << true;
    QTest::newRow("reset counts an error") << u"reset=3000"_qs << false;
    QTest::newRow("endless body counts an error") << u"endless=1"_qs << false;
}

void tst_DownloadTaskSpecification::retryOnAnotherMirror()
{
    QFETCH(QString, fault);
    QFETCH(bool, removedAtOnce);

    makePool({{u"faulty"_qs, faults->url(fault)}, {u"good"_qs, nginx->url()}});
    // Six free slots, the first three the faulty mirror's: the first draw
    // must hit it, the second (after a counted error) the good one.
    RandomSource::seed(seedFor({{6, 0, 2}, {removedAtOnce ? 3 : 6, removedAtOnce ? 0 : 3, 5}}));

    DownloadTaskSpecification *task = newTask(smallPath, 10000);
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(faults->stats().requests, 1);
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.last(), u"Downloading data/small.bin finished"_qs);
    QCOMPARE(task->getMirror().name, u"good"_qs);
    if (removedAtOnce) {
        QCOMPARE(poolMirror(u"faulty"_qs), nullptr);
    } else {
        QVERIFY(poolMirror(u"faulty"_qs));
        QCOMPARE(poolMirror(u"faulty"_qs)->errorCount, 1);
    }
    QCOMPARE(poolMirror(u"good"_qs)->errorCount, 0);
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(readFile(target(smallPath)), content(smallPath));
}

void tst_DownloadTaskSpecification::stalledTransfer_data()
{
    QTest::addColumn<int>("bytesBeforeSilence");

    QTest::newRow("headers, then silence") << 0;
    QTest::newRow("part of the body, then silence") << 1000;
}

void tst_DownloadTaskSpecification::stalledTransfer()
{
    QFETCH(int, bytesBeforeSilence);

    // retries=1: the second time-out removes the mirror and ends the task.
    makePool({{u"faulty"_qs, faults->url(u"stall=%1"_qs.arg(bytesBeforeSilence)), 1}});
    DownloadTaskSpecification *task = newTask(smallPath, 10000);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    const QString timedOut = u"file data/small.bin timed out on mirror faulty"_qs;

    task->execute();
    for (int attempt = 1; attempt <= 2; ++attempt) {
        QTRY_COMPARE(faults->stats().requests, attempt);
        // Let the server's bytes arrive; no tick runs meanwhile.
        QTRY_COMPARE(QFileInfo(target(smallPath)).size(), qint64(bytesBeforeSilence));
        QTest::qWait(50);

        const Figures first = tick(task);
        QVERIFY(first.downloading);
        QCOMPARE(first.done, quint64(bytesBeforeSilence));
        QCOMPARE(first.speed, quint64(bytesBeforeSilence));
        QCOMPARE(first.total, quint64(10000));
        for (int i = 2; i <= 15; ++i) {
            const Figures figures = tick(task);
            QVERIFY(figures.downloading);
            QCOMPARE(figures.speed, quint64(0));
        }
        QCOMPARE(log.count(timedOut), attempt - 1);

        // The 16th tick without data abandons the attempt and counts an error.
        QVERIFY(!tick(task).downloading);
        QCOMPARE(log.count(timedOut), attempt);
        if (attempt == 1) {
            QCOMPARE(poolMirror(u"faulty"_qs)->errorCount, 1);
            // The new attempt started on a fresh, empty file.
            QCOMPARE(task->getState(), TaskSpecification::Running);
            QCOMPARE(QFileInfo(target(smallPath)).size(), qint64(0));
        }
    }
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QCOMPARE(log, (QStringList{u"Downloading data/small.bin"_qs, timedOut,
                               u"Mirror faulty failed too many times, removing"_qs, timedOut,
                               u"There are no (more) known working mirrors available"_qs}));
    QVERIFY(!QFile::exists(target(smallPath)));
    QTRY_COMPARE(faults->stats().openConnections, 0);
}

void tst_DownloadTaskSpecification::waitsForFreeSlot()
{
    // The alpha mirror has one slot: one download runs, the others wait and
    // are woken each time a request of the manager ends.
    makeAlphaPool(faults->url());
    const QStringList paths{smallPath, largePath, emptyPath};
    QList<DownloadTaskSpecification *> started;
    for (const QString &path : paths)
        started.append(newTask(path, -1));
    for (DownloadTaskSpecification *task : started)
        task->execute();

    QCOMPARE(slotsInUse(), 1);
    QCOMPARE(started[0]->getMirror().name, u"Alpha Channel"_qs);
    for (int i = 1; i < started.size(); ++i) {
        QCOMPARE(started[i]->getState(), TaskSpecification::Running);
        QVERIFY(started[i]->getMirror().name.isEmpty());
        // A waiting download neither counts ticks nor reports itself.
        for (int n = 0; n < 20; ++n)
            QVERIFY(!tick(started[i]).downloading);
    }

    for (DownloadTaskSpecification *task : started)
        QTRY_COMPARE(task->getState(), TaskSpecification::Finished);
    for (const QString &path : paths)
        QCOMPARE(readFile(target(path)), content(path));
    QCOMPARE(slotsInUse(), 0);
    const FaultServer::Stats stats = faults->stats();
    QCOMPARE(stats.requests, 3);
    QCOMPARE(stats.maxActive, 1);
}

void tst_DownloadTaskSpecification::cancelWhileTransferring_data()
{
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user cancel") << true;
    QTest::newRow("sibling cancelled") << false;
}

void tst_DownloadTaskSpecification::cancelWhileTransferring()
{
    QFETCH(bool, byUser);

    makePool({{u"faulty"_qs, faults->url(u"stall=1000"_qs)}});
    DownloadTaskSpecification *task = newTask(smallPath, 10000);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->execute();
    QTRY_COMPARE(task->getProgress(), 0.1 * weight);
    QCOMPARE(faults->stats().openConnections, 1);

    if (byUser) {
        task->userCanceled();
    } else {
        DownloadTaskSpecification *sibling = newTask(largePath, -1);
        task->onOtherTaskCancelled(sibling);
    }

    QCOMPARE(canceled.count(), 1);
    QCOMPARE(task->getState(), byUser ? TaskSpecification::UserCanceled : TaskSpecification::ErrorCanceled);
    QStringList expected{u"Downloading data/small.bin"_qs};
    if (!byUser)
        expected.append(u"Abort downloading data/small.bin"_qs);
    QCOMPARE(log, expected);
    QCOMPARE(task->getProgress(), 0.0);
    QVERIFY(!QFile::exists(target(smallPath)));
    // The slot is free and no error counts against the mirror.
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(poolMirror(u"faulty"_qs)->errorCount, 0);
    // The connection is dropped at once, not when the server gives up.
    QTRY_COMPARE(faults->stats().openConnections, 0);
    QCOMPARE(faults->stats().requests, 1);
}

void tst_DownloadTaskSpecification::cancelWhileWaitingForSlot_data()
{
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user cancel") << true;
    QTest::newRow("sibling cancelled") << false;
}

void tst_DownloadTaskSpecification::cancelWhileWaitingForSlot()
{
    QFETCH(bool, byUser);

    makeAlphaPool(faults->url(u"stall=1000"_qs));
    DownloadTaskSpecification *running = newTask(smallPath, 10000);
    DownloadTaskSpecification *waiting = newTask(largePath, -1);
    running->execute();
    waiting->execute();
    QTRY_COMPARE(running->getProgress(), 0.1 * weight);

    if (byUser)
        waiting->userCanceled();
    else
        waiting->onOtherTaskCancelled(running);
    QCOMPARE(waiting->getState(), byUser ? TaskSpecification::UserCanceled : TaskSpecification::ErrorCanceled);

    // Ending the running download frees the slot and ends a request of the
    // manager; the cancelled download must not wake up and start.
    running->userCanceled();
    QCOMPARE(slotsInUse(), 0);
    QTest::qWait(300);
    QCOMPARE(faults->stats().requests, 1);
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(waiting->getState(), byUser ? TaskSpecification::UserCanceled : TaskSpecification::ErrorCanceled);
    QCOMPARE(log, (QStringList{u"Downloading data/small.bin"_qs, u"Downloading data/large.bin"_qs}));
    QVERIFY(!QFile::exists(target(largePath)));
}

void tst_DownloadTaskSpecification::userCancelWhenNotRunning()
{
    makePool({{u"good"_qs, nginx->url()}});
    DownloadTaskSpecification *task = newTask(smallPath, 10000);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->userCanceled();
    QCOMPARE(task->getState(), TaskSpecification::Idle);
    QVERIFY(task->isUserCancelRequested());

    task->reset();
    task->execute();
    QTRY_COMPARE(task->getState(), TaskSpecification::Finished);
    task->userCanceled();
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(canceled.count(), 0);
    QCOMPARE(readFile(target(smallPath)), content(smallPath));
}

void tst_DownloadTaskSpecification::destroyWhileRunning()
{
    makeAlphaPool(faults->url(u"stall=1000"_qs));
    DownloadTaskSpecification *running = newTask(smallPath, 10000);
    DownloadTaskSpecification *waiting = newTask(largePath, -1);
    running->execute();
    waiting->execute();
    QTRY_COMPARE(running->getProgress(), 0.1 * weight);
    QCOMPARE(faults->stats().openConnections, 1);

    // The waiting one goes first: the end of the other's request must not
    // reach it any more.
    tasks.pop_back();
    tasks.pop_back();
    QTRY_COMPARE(faults->stats().openConnections, 0);
    QTest::qWait(100);
    QCOMPARE(faults->stats().requests, 1);
}

void tst_DownloadTaskSpecification::targetNotWritable()
{
    makePool({{u"good"_qs, nginx->url()}});
    const QString path = tempDir->filePath(u"missing/dir/small.bin"_qs);
    tasks.push_back(std::make_unique<DownloadTaskSpecification>(manager.get(), pool.get(), smallPath,
                                                                path, 10000, nullptr, weight));
    DownloadTaskSpecification *task = tasks.back().get();
    QSignalSpy errors(task, &TaskSpecification::error);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->execute();
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), u"Unable to create file %1 for saving"_qs.arg(path));
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(poolMirror(u"good"_qs)->errorCount, 0);
}

void tst_DownloadTaskSpecification::resetAfterFinishAndRunAgain()
{
    makeAlphaPool(nginx->url());
    DownloadTaskSpecification *task = newTask(smallPath, 10000);
    task->execute();
    QTRY_COMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(slotsInUse(), 0);

    // The finished attempt gave its slot back already; the reset must not
    // give it back a second time, or the one-slot mirror would take two.
    task->reset();
    QCOMPARE(task->getState(), TaskSpecification::Idle);
    QCOMPARE(task->getProgress(), 0.0);
    QCOMPARE(slotsInUse(), 0);
    QCOMPARE(readFile(target(smallPath)), content(smallPath));

    QVERIFY(QFile::remove(target(smallPath)));
    task->execute();
    QCOMPARE(slotsInUse(), 1);
    DownloadTaskSpecification *other = newTask(largePath, -1);
    other->execute();
    QCOMPARE(slotsInUse(), 1);
    QTRY_COMPARE(task->getState(), TaskSpecification::Finished);
    QTRY_COMPARE(other->getState(), TaskSpecification::Finished);
    QCOMPARE(readFile(target(smallPath)), content(smallPath));
    QCOMPARE(readFile(target(largePath)), content(largePath));
    QCOMPARE(slotsInUse(), 0);
}

void tst_DownloadTaskSpecification::extraBytesDoNotReachNextDownload()
{
    // A mirror that sends more than it announced leaves those bytes on the
    // connection; the next downloads through the same manager must get
    // exactly their own files.
    makePool({{u"sloppy"_qs, faults->url(u"extra=5000"_qs)}});
    const QStringList paths{smallPath, largePath, emptyPath};
    for (const QString &path : paths) {
        DownloadTaskSpecification *task = newTask(path, -1);
        task->execute();
        QTRY_COMPARE(task->getState(), TaskSpecification::Finished);
        QCOMPARE(readFile(target(path)), content(path));
    }
    QCOMPARE(poolMirror(u"sloppy"_qs)->errorCount, 0);
    QCOMPARE(faults->stats().requests, 3);
}

QTEST_GUILESS_MAIN(tst_DownloadTaskSpecification)
#include "tst_downloadtaskspecification.moc"
