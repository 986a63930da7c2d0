#include "core/configuration.h"
#include "core/updateengine.h"
#include "core/updateinidata.h"
#include "disksnapshot.h"
#include "nginxserver.h"
#include "testfiles.h"
#include "updateserverprocess.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

namespace {

const QString UpdateType = QStringLiteral("client_linux_x86");

using Tree = QList<QPair<QString, QByteArray>>;

// Release 1 and release 2 of the client as installed.
const Tree Release1{
    {QStringLiteral("hvxclient_linux_x86"), "client v1\n"},
    {QStringLiteral("hvxclient_runscript.sh"), "#!/bin/sh\necho v1\n"},
    {QStringLiteral("data/a.txt"), "a1\n"},
    {QStringLiteral("data/old.txt"), "dropped in release 2\n"},
    {QStringLiteral("lib/libfoo.so"), QByteArray(20000, 'f')},
    {QStringLiteral("update"), "updater v1\n"},
    {QStringLiteral("readme.txt"), "unchanged\n"},
};
const Tree Release2{
    {QStringLiteral("hvxclient_linux_x86"), "client v2\n"},
    {QStringLiteral("hvxclient_runscript.sh"), "#!/bin/sh\necho v2\n"},
    {QStringLiteral("data/a.txt"), "a2\n"},
    {QStringLiteral("data/new/deep/b.txt"), "new in a new nested directory\n"},
    {QStringLiteral("lib/libfoo.so"), QByteArray(30000, 'g')},
    {QStringLiteral("update"), "updater v2\n"},
    {QStringLiteral("readme.txt"), "unchanged\n"},
};

bool isExecutableName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name == QLatin1String("hvxclient_linux_x86")
            || name == QLatin1String("hvxclient_runscript.sh") || name == QLatin1String("update")
            || name.endsWith(QLatin1String(".so"));
}

// The snapshot lines of an installation of tree, as the updater leaves it.
QStringList installed(const Tree &tree, const QStringList &extra = {})
{
    QStringList lines = extra;
    QSet<QString> dirs;
    for (const auto &file : tree) {
        lines << DiskSnapshot::fileLine(file.first, file.second,
                                        isExecutableName(file.first) ? 0755 : 0644);
        QString dir = QFileInfo(file.first).path();
        while (dir != QLatin1String(".")) {
            dirs.insert(dir);
            dir = QFileInfo(dir).path();
        }
    }
    for (const QString &dir : dirs)
        lines << DiskSnapshot::dirLine(dir, 0755);
    lines.sort();
    return lines;
}

} // namespace

class tst_UpdateEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void freshInstall();
    void updateReplacesOnlyWhatChanged();
    void currentInstallationIsLeftAlone();
    void cancelledDownloadResumes();
    void failedReplacementRestoresEverything();
    void sessionOfAnotherVersionIsRemoved();
    void unsafeRecordedDirectoryIsNotAdopted();
    void missingMirrorsIniIsFatal();
    void proxySettings_data();
    void proxySettings();
    void cleanupDirectoryLeavesLinksAlone();
    void removeOldFilesRemovesOnlyLeftovers();
    void bannerQuery_data();
    void bannerQuery();
    void bannerImageSizeLimit_data();
    void bannerImageSizeLimit();

private:
    QString path(const QString &relative) const { return root.filePath(relative); }
    QString app() const { return path(QStringLiteral("app")); }
    void makeRelease(const QString &name, const Tree &tree);
    void pack(int version, const QString &release, const QString &previous = QString());
    void installTree(const Tree &tree);
    QStringList appSnapshot() const;
    bool run(int version, bool cancelAfterFirstFile = false);
    QStringList requestedPaths() const;

    QTemporaryDir root;
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<UpdateEngine> engine;
    QStringList log;
    QList<qreal> progress;
    QList<QList<quint64>> figures;
    int accessLogLines = 0;
};

void tst_UpdateEngine::initTestCase()
{
    QVERIFY(root.isValid());
    ::umask(022);
    nginx = std::make_unique<NginxServer>(path(QStringLiteral("mirror")));
    QVERIFY(nginx->isRunning());
    // Session directories go below a directory of the test's own, which
    // every test empties; the server's files were placed before.
    QVERIFY(QDir().mkpath(path(QStringLiteral("tmp"))));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    makeRelease(QStringLiteral("r1"), Release1);
    makeRelease(QStringLiteral("r2"), Release2);
    pack(1, QStringLiteral("r1"));
    pack(2, QStringLiteral("r2"), QStringLiteral("r1"));
}

void tst_UpdateEngine::init()
{
    QDir(app()).removeRecursively();
    QVERIFY(QDir().mkpath(app()));
    QDir(path(QStringLiteral("tmp"))).removeRecursively();
    QVERIFY(QDir().mkpath(path(QStringLiteral("tmp"))));
    Configuration::setAppRootPath(app());
    QVERIFY(TestFiles::write(app() + QStringLiteral("/mirrors.ini"),
                      "[mirrors]\nsize=1\n1\\mirror=local\n[local]\nurl=" + nginx->url().toUtf8()
                              + "\n"));
    QVERIFY(TestFiles::write(app() + QStringLiteral("/update.ini"), "[update]\nstreams=1\n"));
    log.clear();
    progress.clear();
    figures.clear();
    accessLogLines = nginx->accessLog().count(QLatin1Char('\n'));
}

void tst_UpdateEngine::cleanup()
{
    engine.reset();
    configuration.reset();
    Configuration::setAppRootPath(QString());
}

void tst_UpdateEngine::makeRelease(const QString &name, const Tree &tree)
{
    for (const auto &file : tree)
        QVERIFY(TestFiles::write(path(name + QLatin1Char('/') + file.first), file.second));
}

void tst_UpdateEngine::pack(int version, const QString &release, const QString &previous)
{
    QStringList arguments{QStringLiteral("pack"),
                          QStringLiteral("--key"),
                          QStringLiteral(HALVEX_TEST_SOURCE_DIR "/keys/private.der"),
                          QStringLiteral("--type"),
                          UpdateType,
                          QStringLiteral("--version"),
                          QString::number(version),
                          QStringLiteral("--from"),
                          path(release),
                          QStringLiteral("--mirror"),
                          path(QStringLiteral("mirror")),
                          QStringLiteral("--gzip"),
                          QStringLiteral("*.so")};
    if (!previous.isEmpty())
        arguments << QStringLiteral("--previous") << path(previous);
    QProcess tool;
    tool.start(QStringLiteral(HALVEX_RELEASE_TOOL), arguments);
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
}

void tst_UpdateEngine::installTree(const Tree &tree)
{
    for (const auto &file : tree) {
        const QString target = app() + QLatin1Char('/') + file.first;
        QVERIFY(TestFiles::write(target, file.second));
        QVERIFY(QFile::setPermissions(
                target, isExecutableName(file.first)
                        ? QFile::Permissions(0x7555)
                        : QFile::Permissions(0x6444)));
    }
}

QStringList tst_UpdateEngine::appSnapshot() const
{
    QStringList lines = DiskSnapshot::take(app());
    // The updater's own settings files are not part of the release.
    lines.removeIf([](const QString &line) {
        return line.startsWith(QLatin1String("mirrors.ini "))
                || line.startsWith(QLatin1String("update.ini "));
    });
    return lines;
}

bool tst_UpdateEngine::run(int version, bool cancelAfterFirstFile)
{
    configuration = std::make_unique<Configuration>();
    configuration->clientType = UpdateType;
    configuration->clientVersion = version;
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    bool ended = false;
    bool succeeded = false;
    connect(engine.get(), &UpdateEngine::message, this, [&](const QString &text) {
        log << text;
        if (cancelAfterFirstFile && text.endsWith(QLatin1String(" finished"))
            && !text.contains(QLatin1String(".ini")))
            engine->cancelUpdate();
    });
    connect(engine.get(), &UpdateEngine::error, this,
            [&](const QString &text) { log << QStringLiteral("error: ") + text; });
    connect(engine.get(), &UpdateEngine::fatalError, this,
            [&](const QString &text) { log << QStringLiteral("fatal: ") + text; });
    connect(engine.get(), &UpdateEngine::updateProgress, this,
            [&](qreal value) { progress << value; });
    connect(engine.get(), &UpdateEngine::downloadProgress, this,
            [&](quint64 done, quint64 total, quint64 speed, bool downloading) {
                figures << QList<quint64>{done, total, speed, quint64(downloading)};
            });
    connect(engine.get(), &UpdateEngine::updateFinished, this, [&] { ended = succeeded = true; });
    connect(engine.get(), &UpdateEngine::updateCanceled, this, [&] { ended = true; });
    if (!engine->initialize())
        return false;
    engine->startUpdate();
    if (!QTest::qWaitFor([&] { return ended; }, 60000))
        return false;
    return succeeded;
}

QStringList tst_UpdateEngine::requestedPaths() const
{
    QStringList paths;
    const QStringList lines = nginx->accessLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(accessLogLines)) {
        const qsizetype get = line.indexOf(QLatin1String("\"GET "));
        if (get >= 0)
            paths << line.mid(get + 5).section(QLatin1Char(' '), 0, 0);
    }
    return paths;
}

void tst_UpdateEngine::freshInstall()
{
    QVERIFY2(run(1), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(appSnapshot(), installed(Release1));
    QVERIFY(log.contains(QStringLiteral("Update successfully finished")));
    QCOMPARE(engine->getEngineState(), UpdateEngine::EngineFinished);
    // The session is gone after success.
    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));
    QVERIFY(QDir(path(QStringLiteral("tmp"))).isEmpty());
    QVERIFY(!QSettings(UpdateIniData::filename(), QSettings::IniFormat)
                     .childGroups()
                     .contains(QStringLiteral("current")));
    QCOMPARE(progress.last(), 1.0);
    QCOMPARE(figures.last(), (QList<quint64>{0, 0, 0, 0}));
}

void tst_UpdateEngine::updateReplacesOnlyWhatChanged()
{
    installTree(Release1);
    QVERIFY2(run(2), qPrintable(log.join(QLatin1Char('\n'))));
    // The running updater's own file is set aside, to go at the next start.
    QCOMPARE(appSnapshot(),
             installed(Release2, {DiskSnapshot::fileLine(QStringLiteral("_old_update"),
                                                         "updater v1\n", 0755)}));
    const QStringList fetched = requestedPaths();
    QVERIFY(!fetched.contains(QStringLiteral("/2/client_linux_x86/readme.txt")));
    QVERIFY(fetched.contains(QStringLiteral("/2/client_linux_x86/lib/libfoo.so.gz")));
    QVERIFY(fetched.contains(QStringLiteral("/2/client_linux_x86/data/new/deep/b.txt")));

    UpdateEngine::removeOldFiles(app());
    QCOMPARE(appSnapshot(), installed(Release2));
}

void tst_UpdateEngine::currentInstallationIsLeftAlone()
{
    installTree(Release2);
    const QStringList before = appSnapshot();
    QVERIFY2(run(2), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(appSnapshot(), before);
    QVERIFY(log.contains(QStringLiteral("No downloads needed")));
    // Only the product ini and its signature were fetched.
    QCOMPARE(requestedPaths(),
             QStringList({QStringLiteral("/2/client_linux_x86.ini"),
                          QStringLiteral("/2/client_linux_x86.ini.sig")}));
}

void tst_UpdateEngine::cancelledDownloadResumes()
{
    installTree(Release1);
    const QStringList before = appSnapshot();
    QVERIFY(!run(2, true));
    QVERIFY(log.contains(QStringLiteral("User aborted update")));
    QCOMPARE(engine->getEngineState(), UpdateEngine::EngineCanceled);
    QCOMPARE(appSnapshot(), before);
    const QStringList firstRun = requestedPaths();
    int version = 0;
    QString dir;
    QVERIFY(UpdateIniData::get(&version, nullptr, &dir));
    QCOMPARE(version, 2);
    QVERIFY(QFileInfo(dir).isDir());

    log.clear();
    accessLogLines = nginx->accessLog().count(QLatin1Char('\n'));
    QVERIFY2(run(2), qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(log.contains(QStringLiteral("Previous update session for v. 2 found")));
    const QStringList secondRun = requestedPaths();
    // Everything fetched intact the first time is taken up again.
    for (const QString &fetched : firstRun)
        QVERIFY2(!secondRun.contains(fetched), qPrintable(fetched));
    QCOMPARE(appSnapshot(),
             installed(Release2, {DiskSnapshot::fileLine(QStringLiteral("_old_update"),
                                                         "updater v1\n", 0755)}));
}

void tst_UpdateEngine::failedReplacementRestoresEverything()
{
    // Release 3: release 2 whose compressed library unpacks to something
    // other than its recorded sum, so its check fails during installation,
    // after other files were already replaced.
    const QString mirror = path(QStringLiteral("mirror"));
    QDir(mirror + QStringLiteral("/3")).removeRecursively();
    pack(3, QStringLiteral("r2"), QStringLiteral("r1"));
    const QString ini = mirror + QStringLiteral("/3/client_linux_x86.ini");
    QByteArray text = TestFiles::read(ini);
    const QByteArray unpackedSum =
            QCryptographicHash::hash(Release2.at(4).second, QCryptographicHash::Md5).toHex();
    QVERIFY(text.contains(unpackedSum));
    text.replace(unpackedSum, QByteArray(32, '0'));
    QVERIFY(TestFiles::write(ini, text));
    QVERIFY(QFile::remove(ini + QStringLiteral(".sig")));
    QProcess tool;
    tool.start(QStringLiteral(HALVEX_RELEASE_TOOL),
               {QStringLiteral("sign"), QStringLiteral("--key"),
                QStringLiteral(HALVEX_TEST_SOURCE_DIR "/keys/private.der"), ini});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);

    installTree(Release1);
    const QStringList before = appSnapshot();
    QVERIFY(!run(3));
    QVERIFY(log.contains(QStringLiteral("rolling back file updates")));
    QCOMPARE(appSnapshot(), before);
    QCOMPARE(engine->getEngineState(), UpdateEngine::EngineCanceled);
    QVERIFY(!log.contains(QStringLiteral("User aborted update")));
}

void tst_UpdateEngine::sessionOfAnotherVersionIsRemoved()
{
    const QString oldDir = path(QStringLiteral("tmp/halvex_temp_0"));
    QVERIFY(QDir().mkdir(oldDir));
    QVERIFY(QFile::setPermissions(oldDir, QFile::Permissions(0x7000)));
    QVERIFY(TestFiles::write(oldDir + QStringLiteral("/leftover/file.bin"), "x"));
    UpdateIniData::modify(1, oldDir, UpdateType);

    QVERIFY2(run(2), qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(log.contains(
            QStringLiteral("Cleanup previous session (v. 1, %1) files...").arg(oldDir)));
    QVERIFY(log.contains(QStringLiteral("Ok")));
    QVERIFY(!QFileInfo::exists(oldDir));
}

void tst_UpdateEngine::unsafeRecordedDirectoryIsNotAdopted()
{
    // A directory others may write into, recorded for the same version, with
    // a planted file in it: it is neither adopted nor emptied.
    const QString planted = path(QStringLiteral("planted"));
    QVERIFY(QDir().mkdir(planted));
    QVERIFY(QFile::setPermissions(planted, QFile::Permissions(0x7777)));
    ::chmod(QFile::encodeName(planted).constData(), 0777);
    QVERIFY(TestFiles::write(planted + QStringLiteral("/client_linux_x86.ini"), "[evil]\n"));
    UpdateIniData::modify(1, planted, UpdateType);

    configuration = std::make_unique<Configuration>();
    configuration->clientType = UpdateType;
    configuration->clientVersion = 1;
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    connect(engine.get(), &UpdateEngine::message, this, [&](const QString &text) { log << text; });
    QVERIFY(engine->initialize());
    QVERIFY(configuration->tempDir != planted);
    QVERIFY(QFileInfo(configuration->tempDir).isDir());
    QVERIFY(!log.join(QLatin1Char('\n')).contains(QLatin1String("Previous update session")));
    QCOMPARE(TestFiles::read(planted + QStringLiteral("/client_linux_x86.ini")), QByteArray("[evil]\n"));
    QString recorded;
    QVERIFY(UpdateIniData::get(nullptr, nullptr, &recorded));
    QCOMPARE(recorded, configuration->tempDir);
}

void tst_UpdateEngine::missingMirrorsIniIsFatal()
{
    QVERIFY(QFile::remove(app() + QStringLiteral("/mirrors.ini")));
    configuration = std::make_unique<Configuration>();
    configuration->clientVersion = 1;
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    QSignalSpy fatal(engine.get(), &UpdateEngine::fatalError);
    QVERIFY(!engine->initialize());
    QCOMPARE(fatal.size(), 1);
    QCOMPARE(fatal.first().first().toString(),
             QStringLiteral("mirrors.ini is missing, cannot proceed."));
    QVERIFY(!engine->busy());
    // Nothing to cancel before a session runs.
    engine->cancelUpdate();
    QCOMPARE(engine->getEngineState(), UpdateEngine::EngineIdle);
}

void tst_UpdateEngine::proxySettings_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("fatal");

    QTest::newRow("none") << QByteArray() << int(QNetworkProxy::NoProxy) << QString() << 0 << false;
    QTest::newRow("default port") << QByteArray("http://proxy.example") << int(QNetworkProxy::HttpProxy)
                                  << QStringLiteral("proxy.example") << 3128 << false;
    QTest::newRow("own port") << QByteArray("http://proxy.example:8080")
                              << int(QNetworkProxy::HttpProxy) << QStringLiteral("proxy.example")
                              << 8080 << false;
    QTest::newRow("invalid") << QByteArray("http://bad host:port") << 0 << QString() << 0 << true;
}

void tst_UpdateEngine::proxySettings()
{
    QFETCH(QByteArray, value);
    QFETCH(int, type);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, fatal);

    const QString ini = app() + QStringLiteral("/update.ini");
    QVERIFY(TestFiles::write(ini, "[update]\nproxy=" + value + "\n"));
    configuration = std::make_unique<Configuration>();
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    QSignalSpy fatalErrors(engine.get(), &UpdateEngine::fatalError);
    // The report waits for the event loop, when the window listens.
    QCOMPARE(fatalErrors.size(), 0);
    QTest::qWait(20);
    if (fatal) {
        QCOMPARE(fatalErrors.size(), 1);
        QCOMPARE(fatalErrors.first().first().toString(),
                 QStringLiteral("'%1' is an invalid proxy specification")
                         .arg(QString::fromLatin1(value)));
        return;
    }
    QCOMPARE(fatalErrors.size(), 0);
    const QNetworkProxy proxy = engine->getNetworkManager()->proxy();
    QCOMPARE(int(proxy.type()), type);
    QCOMPARE(proxy.hostName(), host);
    if (port)
        QCOMPARE(int(proxy.port()), port);
}

void tst_UpdateEngine::cleanupDirectoryLeavesLinksAlone()
{
    const QString dir = path(QStringLiteral("cleanup"));
    const QString outside = path(QStringLiteral("outside"));
    QVERIFY(TestFiles::write(outside + QStringLiteral("/keep.txt"), "keep"));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/a/b/.hidden"), "x"));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/top.txt"), "x"));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/c/file"), "x"));
    QVERIFY(QFile::link(outside, dir + QStringLiteral("/c/link")));

    UpdateEngine::cleanupDirectory(dir);
    // The link is neither followed nor deleted, so its directory stays.
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("c")});
    QCOMPARE(QDir(dir + QStringLiteral("/c")).entryList(QDir::AllEntries | QDir::System
                                                        | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("link")});
    QCOMPARE(TestFiles::read(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));
}

void tst_UpdateEngine::removeOldFilesRemovesOnlyLeftovers()
{
    QVERIFY(TestFiles::write(app() + QStringLiteral("/_old_update"), "x"));
    QVERIFY(TestFiles::write(app() + QStringLiteral("/_old_libqgif.so"), "x"));
    QVERIFY(TestFiles::write(app() + QStringLiteral("/_old_other.so"), "x"));
    QVERIFY(TestFiles::write(app() + QStringLiteral("/update"), "x"));
    UpdateEngine::removeOldFiles(app());
    QCOMPARE(QDir(app()).entryList({QStringLiteral("*update"), QStringLiteral("_old_*")},
                                   QDir::Files),
             QStringList({QStringLiteral("_old_other.so"), QStringLiteral("update")}));
}

void tst_UpdateEngine::bannerQuery_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("click");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("expectedRequests");

    QTest::newRow("reply") << QStringLiteral("banner.png") << QStringLiteral("http://click.example/")
                           << true << 1;
    // One resend after five seconds, then silence.
    QTest::newRow("no reply") << QString() << QString() << false << 2;
    // Three parts: dropped, and no resend follows a reply.
    QTest::newRow("malformed reply") << QStringLiteral("a,b") << QStringLiteral("c") << false << 1;
}

void tst_UpdateEngine::bannerQuery()
{
    QFETCH(QString, image);
    QFETCH(QString, click);
    QFETCH(bool, found);
    QFETCH(int, expectedRequests);

    const QByteArray png(1000, 'p');
    QVERIFY(TestFiles::write(path(QStringLiteral("mirror/banner.png")), png));

    // The reference server will not send a reply the updater cannot use, so
    // a malformed one comes from a socket of the test's own.
    UpdateServerProcess server;
    QUdpSocket fakeServer;
    int fakeRequests = 0;
    quint16 port = 0;
    if (image.contains(QLatin1Char(','))) {
        QVERIFY(fakeServer.bind(QHostAddress::LocalHost, 0));
        connect(&fakeServer, &QUdpSocket::readyRead, this, [&] {
            const QNetworkDatagram request = fakeServer.receiveDatagram();
            ++fakeRequests;
            fakeServer.writeDatagram((image + QLatin1Char(',') + click).toLatin1(),
                                     request.senderAddress(), quint16(request.senderPort()));
        });
        port = fakeServer.localPort();
    } else {
        UpdateServerProcess::Replies replies;
        replies.bannerImage = image.isEmpty() ? QString() : nginx->url(image);
        replies.bannerClick = click;
        const QString settings = path(QStringLiteral("server-%1.ini").arg(QLatin1String(QTest::currentDataTag())));
        QVERIFY(UpdateServerProcess::writeSettings(settings, replies));
        QVERIFY(server.start(settings));
        port = server.bannerPort();
    }
    const auto requests = [&] {
        return fakeServer.state() == QAbstractSocket::BoundState
                ? fakeRequests
                : int(server.log().count(QLatin1String("banner request,")));
    };

    configuration = std::make_unique<Configuration>();
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    engine->setBannerServer(QStringLiteral("127.0.0.1"), port);
    QSignalSpy banner(engine.get(), &UpdateEngine::bannerFound);
    engine->getBanner();
    if (found) {
        QTRY_COMPARE(banner.size(), 1);
        QCOMPARE(banner.first().at(0).toByteArray(), png);
        QCOMPARE(banner.first().at(1).toString(), click);
        QCOMPARE(requests(), expectedRequests);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(requests(), expectedRequests, 7000);
        QTest::qWait(5500);
        QCOMPARE(requests(), expectedRequests);
        QCOMPARE(banner.size(), 0);
    }
}

void tst_UpdateEngine::bannerImageSizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("shown");
    QTest::newRow("at the limit") << 270000 << true;
    QTest::newRow("one byte over") << 270001 << false;
}

void tst_UpdateEngine::bannerImageSizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, shown);

    const QString name = QStringLiteral("banner%1.png").arg(size);
    QVERIFY(TestFiles::write(path(QStringLiteral("mirror/") + name), QByteArray(size, 'b')));
    UpdateServerProcess server;
    UpdateServerProcess::Replies replies;
    replies.bannerImage = nginx->url(name);
    replies.bannerClick = QStringLiteral("http://click.example/");
    const QString settings = path(QStringLiteral("limit-%1.ini").arg(size));
    QVERIFY(UpdateServerProcess::writeSettings(settings, replies));
    QVERIFY(server.start(settings));
    configuration = std::make_unique<Configuration>();
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    engine->setBannerServer(QStringLiteral("127.0.0.1"), server.bannerPort());
    QSignalSpy banner(engine.get(), &UpdateEngine::bannerFound);
    engine->getBanner();
    if (shown) {
        QTRY_COMPARE(banner.size(), 1);
        QCOMPARE(banner.first().at(0).toByteArray().size(), size);
    } else {
        QTest::qWait(1500);
        QCOMPARE(banner.size(), 0);
    }
}

QTEST_GUILESS_MAIN(tst_UpdateEngine)
#include "tst_updateengine.moc"
