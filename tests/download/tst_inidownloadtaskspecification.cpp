#include "core/configuration.h"
#include "crypto/cryptfunctions.h"
#include "demokey.h"
#include "download/inidownloadtaskspecification.h"
#include "download/mirrors.h"
#include "faultserver.h"
#include "testfiles.h"

#include <QNetworkAccessManager>
#include <QtTest>

#include <memory>

namespace {

constexpr int Version = 4711;
const QString IniName = QStringLiteral("client_linux_x86.ini");
const QByteArray IniContent = "[client_linux_x86]\nhvxclient_linux_x86=0123::10\n";

} // namespace

class tst_IniDownloadTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startingSituations_data();
    void startingSituations();
    void staleCopyIsFetchedAgain();
    void neverVerifiesAbortsAfterTheLimit();
    void noMirrorEndsWithError();

private:
    QString path(const QString &relative) const { return root.filePath(relative); }
    void publish(const QByteArray &ini, const QByteArray &signature);
    void start();

    QTemporaryDir root;
    std::unique_ptr<FaultServer> server;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<QNetworkAccessManager> manager;
    std::unique_ptr<Mirrors> pool;
    std::unique_ptr<IniDownloadTaskSpecification> task;
    QStringList log;
};

void tst_IniDownloadTaskSpecification::initTestCase()
{
    if (!DemoKey::isBuiltIn())
        QSKIP("the build uses a key other than the demo key");
    crypt_init();
    QVERIFY(root.isValid());
    server = std::make_unique<FaultServer>(path(QStringLiteral("mirror")));
    QVERIFY(server->isRunning());
    Configuration::setAppRootPath(path(QStringLiteral("app")));
    QVERIFY(TestFiles::write(path(QStringLiteral("app/mirrors.ini")),
                      "[mirrors]\nsize=1\n1\\mirror=local\n[local]\nurl="
                              + server->url().toUtf8() + "\n"));
}

void tst_IniDownloadTaskSpecification::init()
{
    QDir(path(QStringLiteral("temp"))).removeRecursively();
    QVERIFY(QDir().mkpath(path(QStringLiteral("temp"))));
    publish(IniContent, DemoKey::sign(IniContent));
    QVERIFY(server->resetStats());

    configuration = std::make_unique<Configuration>();
    configuration->clientType = QStringLiteral("client_linux_x86");
    configuration->tempDir = path(QStringLiteral("temp"));
    manager = std::make_unique<QNetworkAccessManager>();
    pool = std::make_unique<Mirrors>(nullptr);
    QVERIFY(pool->initDefault(path(QStringLiteral("app/mirrors.ini")), Version));
    task = std::make_unique<IniDownloadTaskSpecification>(manager.get(), pool.get(),
                                                          configuration.get(), nullptr, 1.0);
    log.clear();
    connect(task.get(), &TaskSpecification::message, this,
            [this](const QString &text) { log << text; });
    connect(pool.get(), &Mirrors::message, this, [this](const QString &text) { log << text; });
}

void tst_IniDownloadTaskSpecification::cleanup()
{
    task.reset();
    pool.reset();
    manager.reset();
}

void tst_IniDownloadTaskSpecification::publish(const QByteArray &ini, const QByteArray &signature)
{
    const QString dir = QStringLiteral("mirror/%1/").arg(Version);
    QVERIFY(TestFiles::write(path(dir + IniName), ini));
    QVERIFY(TestFiles::write(path(dir + IniName + QStringLiteral(".sig")), signature));
}

void tst_IniDownloadTaskSpecification::start()
{
    task->execute();
    QTRY_VERIFY_WITH_TIMEOUT(task->getState() != TaskSpecification::Running, 20000);
}

void tst_IniDownloadTaskSpecification::startingSituations_data()
{
    QTest::addColumn<bool>("iniPresent");
    QTest::addColumn<bool>("sigPresent");
    QTest::addColumn<QStringList>("expectedRequests");
    QTest::addColumn<QList<double>>("expectedWeights");

    const QString ini = QStringLiteral("/%1/%2").arg(Version).arg(IniName);
    const QString sig = ini + QStringLiteral(".sig");
    QTest::newRow("nothing present") << false << false << QStringList{ini, sig}
                                     << QList<double>{0.3333, 0.3333, 0.3334};
    QTest::newRow("product ini present") << true << false << QStringList{sig}
                                         << QList<double>{0.3333, 0.6667};
    QTest::newRow("both present") << true << true << QStringList{} << QList<double>{1.0};
}

void tst_IniDownloadTaskSpecification::startingSituations()
{
    QFETCH(bool, iniPresent);
    QFETCH(bool, sigPresent);
    QFETCH(QStringList, expectedRequests);
    QFETCH(QList<double>, expectedWeights);

    const QString localIni = configuration->tempDir + QLatin1Char('/') + IniName;
    if (iniPresent)
        QVERIFY(TestFiles::write(localIni, IniContent));
    if (sigPresent)
        QVERIFY(TestFiles::write(localIni + QStringLiteral(".sig"), DemoKey::sign(IniContent)));

    task->execute();
    QList<double> weights;
    for (const TaskSpecification *subTask : task->getSubTasks())
        weights << subTask->getParentProgressRange();
    QCOMPARE(weights.size(), expectedWeights.size());
    for (int i = 0; i < weights.size(); ++i)
        QVERIFY2(qFuzzyCompare(weights[i], expectedWeights[i]), qPrintable(QString::number(weights[i])));

    QTRY_VERIFY_WITH_TIMEOUT(task->getState() != TaskSpecification::Running, 20000);
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(server->stats().paths, expectedRequests);
    QCOMPARE(TestFiles::read(localIni), IniContent);
    QVERIFY(qFuzzyCompare(task->getProgress(), 1.0));
}

void tst_IniDownloadTaskSpecification::staleCopyIsFetchedAgain()
{
    // Left by an interrupted run; both files exist but do not belong together.
    const QString localIni = configuration->tempDir + QLatin1Char('/') + IniName;
    QVERIFY(TestFiles::write(localIni, "[stale]\n"));
    QVERIFY(TestFiles::write(localIni + QStringLiteral(".sig"), DemoKey::sign(IniContent)));

    start();
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(log,
             QStringList({QStringLiteral("Download / check product ini"),
                          QStringLiteral("Signature check failed for %1").arg(localIni),
                          QStringLiteral("Could not verify the product ini file. Retrying"),
                          QStringLiteral("Downloading client_linux_x86.ini"),
                          QStringLiteral("Downloading client_linux_x86.ini finished"),
                          QStringLiteral("Downloading client_linux_x86.ini.sig"),
                          QStringLiteral("Downloading client_linux_x86.ini.sig finished")}));
    QCOMPARE(server->stats().requests, 2);
    QCOMPARE(TestFiles::read(localIni), IniContent);
    QCOMPARE(task->getFailedChecks(), 1);
}

void tst_IniDownloadTaskSpecification::neverVerifiesAbortsAfterTheLimit()
{
    publish(IniContent, DemoKey::sign("something else"));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();
    QTRY_VERIFY_WITH_TIMEOUT(task->getState() != TaskSpecification::Running, 120000);
    QTest::qWait(50);
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    // 1001 verifications with 1000 rounds of fresh downloads in between; a
    // failed verification costs no mirror.
    QCOMPARE(log.count(QStringLiteral("Could not verify the product ini file. Retrying")), 1000);
    QCOMPARE(log.last(), QStringLiteral("Could not verify the product ini file. Aborting"));
    QCOMPARE(server->stats().requests, 2002);
    QCOMPARE(pool->getMirrors().size(), 1);
    // The check that ran last still finishes; the task ends once only.
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(finished.size(), 0);
}

void tst_IniDownloadTaskSpecification::noMirrorEndsWithError()
{
    QFile::remove(path(QStringLiteral("mirror/%1/%2").arg(Version).arg(IniName)));
    start();
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QVERIFY(log.contains(QStringLiteral("There are no (more) known working mirrors available")));
    QCOMPARE(task->getSubTasks().last()->getState(), TaskSpecification::Idle);
}

QTEST_GUILESS_MAIN(tst_IniDownloadTaskSpecification)
#include "tst_inidownloadtaskspecification.moc"
