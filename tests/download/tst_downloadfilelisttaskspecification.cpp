#include "core/configuration.h"
#include "core/randomsource.h"
#include "crypto/cryptfunctions.h"
#include "download/downloadfilelisttaskspecification.h"
#include "download/mirrors.h"
#include "faultserver.h"
#include "nginxserver.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QtTest>

#include <memory>

namespace {

constexpr int Version = 815;
const QString Section = QStringLiteral("client_linux_x86");

// The files of a release: path and content.
QList<QPair<QString, QByteArray>> releaseFiles()
{
    QList<QPair<QString, QByteArray>> files;
    const QStringList names{QStringLiteral("hvxclient_linux_x86"),
                            QStringLiteral("plugins/a.so"),
                            QStringLiteral("plugins/b.so"),
                            QStringLiteral("data/maps/one.map"),
                            QStringLiteral("data/maps/two.map"),
                            QStringLiteral("data/sounds/a.ogg"),
                            QStringLiteral("readme.txt"),
                            QStringLiteral("lib/libx.so.4"),
                            QStringLiteral("lib/liby.so"),
                            QStringLiteral("empty.dat")};
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray content = i == names.size() - 1
                ? QByteArray()
                : QByteArray(1000 * (i + 1), char('a' + i));
        files.append({names[i], content});
    }
    return files;
}

} // namespace

class tst_DownloadFileListTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void emptyListFinishesAtOnce();
    void everyFileArrivesVerified();
    void startsAsManyAsTheStreamsAllow();
    void corruptingMirrorIsDropped();
    void alphaMirrorServesOneAtATime();
    void corruptAlphaMirrorEndsTheUpdate();
    void unwritableDirectoryStopsBeforeDownloading();

private:
    QString path(const QString &relative) const { return root.filePath(relative); }
    void makePool(const QStringList &urls);
    void makeAlphaPool(const QString &url);
    void makeTask();
    void runToEnd();
    QStringList runningFileTasks() const;

    QTemporaryDir root;
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<FaultServer> faults;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<QNetworkAccessManager> manager;
    std::unique_ptr<Mirrors> pool;
    std::unique_ptr<DownloadFileListTaskSpecification> task;
    QList<FileDownloadSpecification> fileList;
    QStringList log;
};

void tst_DownloadFileListTaskSpecification::initTestCase()
{
    crypt_init();
    QVERIFY(root.isValid());
    for (const auto &file : releaseFiles())
        QVERIFY(TestFiles::write(path(QStringLiteral("mirror/%1/%2/%3").arg(Version).arg(Section, file.first)),
                          file.second));
    nginx = std::make_unique<NginxServer>(path(QStringLiteral("mirror")));
    QVERIFY(nginx->isRunning());
    faults = std::make_unique<FaultServer>(path(QStringLiteral("mirror")));
    QVERIFY(faults->isRunning());
    Configuration::setAppRootPath(path(QStringLiteral("app")));
    QVERIFY(QDir().mkpath(path(QStringLiteral("app"))));
}

void tst_DownloadFileListTaskSpecification::init()
{
    QDir(path(QStringLiteral("temp"))).removeRecursively();
    QVERIFY(QDir().mkpath(path(QStringLiteral("temp"))));
    QVERIFY(faults->resetStats());
    configuration = std::make_unique<Configuration>();
    configuration->tempDir = path(QStringLiteral("temp"));
    configuration->streams = 6;
    manager = std::make_unique<QNetworkAccessManager>();
    pool = std::make_unique<Mirrors>(nullptr);
    connect(pool.get(), &Mirrors::message, this, [this](const QString &text) { log << text; });
    log.clear();
    fileList.clear();
    for (const auto &file : releaseFiles()) {
        FileDownloadSpecification entry;
        entry.section = Section;
        entry.fileName = file.first;
        entry.md5 = QString::fromLatin1(
                QCryptographicHash::hash(file.second, QCryptographicHash::Md5).toHex());
        entry.size = file.second.size();
        fileList.append(entry);
    }
}

void tst_DownloadFileListTaskSpecification::cleanup()
{
    task.reset();
    pool.reset();
    manager.reset();
}

void tst_DownloadFileListTaskSpecification::makePool(const QStringList &urls)
{
    QByteArray ini = "[mirrors]\nsize=" + QByteArray::number(urls.size()) + '\n';
    for (int i = 0; i < urls.size(); ++i)
        ini += QByteArray::number(i + 1) + "\\mirror=m" + QByteArray::number(i + 1) + '\n';
    for (int i = 0; i < urls.size(); ++i)
        ini += "[m" + QByteArray::number(i + 1) + "]\nurl=" + urls[i].toUtf8() + '\n';
    const QString file = path(QStringLiteral("app/mirrors.ini"));
    QVERIFY(TestFiles::write(file, ini));
    QVERIFY(pool->initDefault(file, Version));
}

void tst_DownloadFileListTaskSpecification::makeAlphaPool(const QString &url)
{
    const QString file = path(QStringLiteral("app/update%1.ini").arg(QLatin1String(QTest::currentTestFunction())));
    QVERIFY(TestFiles::write(file, "[Channel]\nalpha=" + url.toUtf8() + '\n'));
    QVERIFY(pool->initAlpha(file, Version));
}

void tst_DownloadFileListTaskSpecification::makeTask()
{
    task = std::make_unique<DownloadFileListTaskSpecification>(&fileList, manager.get(),
                                                               pool.get(), configuration.get(),
                                                               nullptr, 1.0);
    connect(task.get(), &TaskSpecification::message, this,
            [this](const QString &text) { log << text; });
}

void tst_DownloadFileListTaskSpecification::runToEnd()
{
    task->execute();
    QTRY_VERIFY_WITH_TIMEOUT(task->getState() != TaskSpecification::Running, 30000);
}

QStringList tst_DownloadFileListTaskSpecification::runningFileTasks() const
{
    QStringList running;
    const QList<TaskSpecification *> &subTasks = task->getSubTasks();
    for (int i = 0; i < subTasks.size(); ++i) {
        if (subTasks[i]->getState() == TaskSpecification::Running)
            running << fileList[i].fileName;
    }
    return running;
}

void tst_DownloadFileListTaskSpecification::emptyListFinishesAtOnce()
{
    fileList.clear();
    makePool({nginx->url()});
    makeTask();
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    task->execute();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(log, QStringList{QStringLiteral("No downloads needed")});
    QVERIFY(QDir(configuration->tempDir).isEmpty());
}

void tst_DownloadFileListTaskSpecification::everyFileArrivesVerified()
{
    makePool({nginx->url()});
    makeTask();
    runToEnd();
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    for (const auto &file : releaseFiles())
        QCOMPARE(TestFiles::read(configuration->tempDir + QLatin1Char('/') + file.first), file.second);
    QVERIFY(qFuzzyCompare(task->getProgress(), 1.0));
    QCOMPARE(log.first(), QStringLiteral("Downloading files"));
    QVERIFY(!log.join(QLatin1Char('\n')).contains(QLatin1String("failed")));
}

void tst_DownloadFileListTaskSpecification::startsAsManyAsTheStreamsAllow()
{
    // Every transfer sends a few bytes and then holds, so that the tasks
    // stay running while the test looks at them.
    makePool({faults->url(QStringLiteral("stall=1")), faults->url(QStringLiteral("stall=1/"))});
    makeTask();
    task->execute();
    QTRY_COMPARE(runningFileTasks().size(), 6);
    QTest::qWait(100);
    QCOMPARE(runningFileTasks().size(), 6);
    QCOMPARE(task->getSubTasks().at(6)->getState(), TaskSpecification::Idle);

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->timeTick(done, total, speed, downloading);
    qint64 expectedTotal = 0;
    for (const FileDownloadSpecification &file : std::as_const(fileList))
        expectedTotal += file.size;
    QCOMPARE(total, quint64(expectedTotal));
    QCOMPARE(task->getTotalBytes(), expectedTotal);

    // The user's cancel stays a user cancel, although the downloads that
    // were not asked first learn of it as a sibling's cancellation.
    task->userCanceled();
    QTRY_COMPARE(task->getState(), TaskSpecification::UserCanceled);
    task.reset();
    manager.reset();
    QTRY_COMPARE(faults->stats().openConnections, 0);
}

void tst_DownloadFileListTaskSpecification::corruptingMirrorIsDropped()
{
    fileList = fileList.mid(1, 1);
    // Two mirrors of three slots each; draws below 3 land on the first,
    // which inverts every byte it serves.
    quint32 seed = 1;
    for (;; ++seed) {
        RandomSource::seed(seed);
        if (RandomSource::bounded(6) < 3)
            break;
    }
    RandomSource::seed(seed);
    makePool({faults->url(QStringLiteral("corrupt=1")), nginx->url()});
    makeTask();
    runToEnd();

    const QString target = configuration->tempDir + QStringLiteral("/plugins/a.so");
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    QCOMPARE(TestFiles::read(target), releaseFiles().at(1).second);
    QVERIFY(log.contains(QStringLiteral("Signature check failed for %1").arg(target)));
    QVERIFY(log.contains(
            QStringLiteral("md5 sum for plugins/a.so failed, invalidating mirror and retrying")));
    QCOMPARE(pool->getMirrors().size(), 1);
    QCOMPARE(pool->getMirrors().first().name, QStringLiteral("m2"));
    QCOMPARE(faults->stats().requests, 1);
}

void tst_DownloadFileListTaskSpecification::alphaMirrorServesOneAtATime()
{
    makeAlphaPool(faults->url());
    makeTask();
    task->execute();
    QTRY_COMPARE(runningFileTasks().size(), 6);
    QTRY_VERIFY_WITH_TIMEOUT(task->getState() != TaskSpecification::Running, 30000);
    QCOMPARE(task->getState(), TaskSpecification::Finished);
    const FaultServer::Stats stats = faults->stats();
    QCOMPARE(stats.requests, fileList.size());
    QCOMPARE(stats.maxActive, 1);
}

void tst_DownloadFileListTaskSpecification::corruptAlphaMirrorEndsTheUpdate()
{
    makeAlphaPool(faults->url(QStringLiteral("corrupt=1")));
    makeTask();
    runToEnd();
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QVERIFY(pool->getMirrors().isEmpty());
    QVERIFY(log.contains(QStringLiteral("There are no (more) known working mirrors available")));
    // Nothing is left transferring once the idle connections are closed.
    task.reset();
    manager.reset();
    QTRY_COMPARE(faults->stats().openConnections, 0);
}

void tst_DownloadFileListTaskSpecification::unwritableDirectoryStopsBeforeDownloading()
{
    // A file where the directory should go.
    QVERIFY(TestFiles::write(configuration->tempDir + QStringLiteral("/plugins"), "in the way"));
    makePool({faults->url()});
    makeTask();
    task->execute();
    QCOMPARE(task->getState(), TaskSpecification::ErrorCanceled);
    QCOMPARE(log, QStringList{QStringLiteral("Could not create dir %1/plugins")
                                      .arg(QDir(configuration->tempDir).canonicalPath())});
    QTest::qWait(50);
    QCOMPARE(faults->stats().requests, 0);
}

QTEST_GUILESS_MAIN(tst_DownloadFileListTaskSpecification)
#include "tst_downloadfilelisttaskspecification.moc"
