#include "core/configuration.h"
#include "updateserverprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

namespace {

const QString ServerNews = QStringLiteral("Server news, with a comma");
const QString OtherNews = QStringLiteral("Other news");

// Restores an environment variable when the test ends, however it ends.
class EnvironmentOverride final
{
public:
    EnvironmentOverride(const char *name, const QByteArray &value)
        : name(name), hadValue(qEnvironmentVariableIsSet(name)), oldValue(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (hadValue)
            qputenv(name, oldValue);
        else
            qunsetenv(name);
    }
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    const char *name;
    bool hadValue;
    QByteArray oldValue;
};

} // namespace

class tst_Configuration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLine_data();
    void commandLine();
    void clientTypeVersionErrors_data();
    void clientTypeVersionErrors();
    void retryThenAbort();
    void proxyAndStreams_data();
    void proxyAndStreams();
    void specialFileNames_data();
    void specialFileNames();
    void createTempDirSkipsTakenNames_data();
    void createTempDirSkipsTakenNames();
    void createTempDirFailures_data();
    void createTempDirFailures();
    void initalizeStartAdoptsGivenDir();

private:
    void writeUpdateIni(const QString &text);

    QTemporaryDir serverDir;
    // The usual server, and one whose stable entry is no number and whose
    // beta entry is empty.
    UpdateServerProcess server;
    UpdateServerProcess oddServer;
    std::unique_ptr<QTemporaryDir> appRoot;
    std::unique_ptr<Configuration> config;
    std::unique_ptr<QSignalSpy> fatalErrors;
    int retryQuestions = 0;
};

void tst_Configuration::initTestCase()
{
    QVERIFY(serverDir.isValid());
    const QString settings = serverDir.filePath(QStringLiteral("server.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(
            settings,
            {{QStringLiteral("1200#3.0.1"), QStringLiteral("1250#3.0.2-beta"),
              QStringLiteral("1300")},
             ServerNews, {}, {}}));
    QVERIFY2(server.start(settings), qPrintable(server.log()));

    const QString oddSettings = serverDir.filePath(QStringLiteral("odd.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(
            oddSettings,
            {{QStringLiteral("12x#odd"), QString(), QStringLiteral("1300#a")}, OtherNews, {}, {}}));
    QVERIFY2(oddServer.start(oddSettings), qPrintable(oddServer.log()));
}

void tst_Configuration::init()
{
    appRoot = std::make_unique<QTemporaryDir>();
    QVERIFY(appRoot->isValid());
    Configuration::setAppRootPath(appRoot->path());
    config = std::make_unique<Configuration>();
    config->setUpdateServer(QStringLiteral("127.0.0.1"), server.queryPort());
    retryQuestions = 0;
    config->setRetryQuestion([this] {
        ++retryQuestions;
        return false;
    });
    fatalErrors = std::make_unique<QSignalSpy>(config.get(), &Configuration::fatalError);
}

void tst_Configuration::cleanup()
{
    fatalErrors.reset();
    config.reset();
    Configuration::setAppRootPath(QString());
    appRoot.reset();
}

void tst_Configuration::writeUpdateIni(const QString &text)
{
    QFile file(QDir(appRoot->path()).filePath(QStringLiteral("update.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(text.toUtf8()) >= 0);
}

void tst_Configuration::commandLine_data()
{
    QTest::addColumn<QString>("updateIni");
    QTest::addColumn<bool>("useOddServer");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("settled");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("clientType");
    QTest::addColumn<int>("clientVersion");
    QTest::addColumn<QString>("versionString");
    QTest::addColumn<QString>("newsText");
    QTest::addColumn<int>("unattended");
    QTest::addColumn<QStringList>("errors");

    const QString noIni;
    const QString x86 = QStringLiteral("client_linux_x86");
    const QString amd64 = QStringLiteral("client_linux_amd64");
    const QString alphaIni =
            QStringLiteral("[Channel]\nalpha=http://alpha.halvex.example/\nalphaRevno=4711\n");
    const QString alphaNoRevnoIni = QStringLiteral("[Channel]\nalpha=http://alpha.halvex.example/\n");
    const QString betaIni = QStringLiteral("[Channel]\nbeta=true\n");
    const QStringList none;
    auto args = [](std::initializer_list<const char *> list) {
        QStringList result = {QStringLiteral("update")};
        for (const char *a : list)
            result << QString::fromUtf8(a);
        return result;
    };

    // Form 1: everything from update.ini and the server.
    QTest::newRow("no arguments, no update.ini")
            << noIni << false << args({}) << true << int(Stable) << x86 << 1200
            << QStringLiteral("3.0.1") << ServerNews << 0 << none;
    QTest::newRow("one argument is form 1")
            << noIni << false << args({"client_linux_amd64"}) << true << int(Stable) << x86
            << 1200 << QStringLiteral("3.0.1") << ServerNews << 0 << none;
    QTest::newRow("three arguments are form 1")
            << noIni << false << args({"a", "12", "c"}) << true << int(Stable) << x86 << 1200
            << QStringLiteral("3.0.1") << ServerNews << 0 << none;
    QTest::newRow("beta channel") << betaIni << false << args({}) << true << int(Beta) << x86
                                  << 1250 << QStringLiteral("3.0.2-beta") << ServerNews << 0
                                  << none;
    QTest::newRow("alpha without revno asks the server")
            << alphaNoRevnoIni << false << args({}) << true << int(Alpha) << x86 << 1300
            << QString() << ServerNews << 0 << none;
    QTest::newRow("alpha revno wins") << alphaIni << false << args({}) << true << int(Alpha)
                                      << x86 << 4711 << QString() << QString() << 0 << none;
    QTest::newRow("alpha wins over beta")
            << alphaIni + QStringLiteral("beta=true\n") << false << args({}) << true
            << int(Alpha) << x86 << 4711 << QString() << QString() << 0 << none;

    // Form 2: type and version given; the server is not asked.
    QTest::newRow("type and version")
            << noIni << false << args({"client_linux_amd64", "12345"}) << true << int(Stable)
            << amd64 << 12345 << QString() << QString() << 0 << none;
    QTest::newRow("invalid version") << noIni << false << args({"client_linux_amd64", "12a"})
                                     << false << int(Stable) << amd64 << 0 << QString()
                                     << QString() << 0
                                     << QStringList{QStringLiteral("Invalid version nr (12a)")};
    QTest::newRow("alpha revno ignores the version argument")
            << alphaIni << false << args({"client_linux_amd64", "abc"}) << true << int(Alpha)
            << amd64 << 4711 << QString() << QString() << 0 << none;
    QTest::newRow("alpha without revno takes the version argument")
            << alphaNoRevnoIni << false << args({"client_linux_amd64", "777"}) << true
            << int(Alpha) << amd64 << 777 << QString() << QString() << 0 << none;
    QTest::newRow("nouser is no type in form 2")
            << noIni << false << args({"x", "--nouser"}) << false << int(Stable)
            << QStringLiteral("x") << 0 << QString() << QString() << 0
            << QStringList{QStringLiteral("Invalid version nr (--nouser)")};

    // Form 3: unattended.
    QTest::newRow("nouser alone") << noIni << false << args({"--nouser"}) << true << int(Stable)
                                  << x86 << 1200 << QStringLiteral("3.0.1") << ServerNews << 1
                                  << none;
    QTest::newRow("nouser with a lone type ignores it")
            << noIni << false << args({"--nouser", "client_linux_amd64"}) << true << int(Stable)
            << x86 << 1200 << QStringLiteral("3.0.1") << ServerNews << 1 << none;
    QTest::newRow("nouser with type and version")
            << noIni << false << args({"--nouser", "client_linux_amd64", "555"}) << true
            << int(Stable) << amd64 << 555 << QString() << QString() << 1 << none;
    QTest::newRow("nouser with label")
            << noIni << false << args({"--nouser", "client_linux_amd64", "555", "5.5"}) << true
            << int(Stable) << amd64 << 555 << QStringLiteral("5.5") << QString() << 1 << none;
    QTest::newRow("nouser with # and news")
            << noIni << false
            << args({"--nouser", "client_linux_amd64", "555", "#", "Local news", "extra"}) << true
            << int(Stable) << amd64 << 555 << QString() << QStringLiteral("Local news") << 1
            << none;
    // Version 0 is "not settled": the server is asked, and its label and
    // news replace those of the command line.
    QTest::newRow("nouser with version 0 asks the server")
            << noIni << false
            << args({"--nouser", "client_linux_amd64", "0", "My label", "My news"}) << true
            << int(Stable) << amd64 << 1200 << QStringLiteral("3.0.1") << ServerNews << 1
            << none;
    QTest::newRow("nouser invalid version")
            << noIni << false << args({"--nouser", "client_linux_amd64", "v2"}) << false
            << int(Stable) << amd64 << 0 << QString() << QString() << 0
            << QStringList{QStringLiteral("Invalid version nr (v2)")};

    // What the server answers for the channel.
    QTest::newRow("server version not a number")
            << noIni << true << args({}) << false << int(Stable) << x86 << 0 << QString()
            << OtherNews << 0
            << QStringList{QStringLiteral("Update server returned invalid version nr (12x)")};
    QTest::newRow("server entry empty") << betaIni << true << args({}) << false << int(Beta)
                                        << x86 << 0 << QString() << OtherNews << 0 << none;
    QTest::newRow("nouser with empty server entry")
            << betaIni << true << args({"--nouser"}) << false << int(Beta) << x86 << 0
            << QString() << OtherNews << 0 << none;
}

void tst_Configuration::commandLine()
{
    QFETCH(QString, updateIni);
    QFETCH(bool, useOddServer);
    QFETCH(QStringList, arguments);

    if (!updateIni.isNull())
        writeUpdateIni(updateIni);
    if (useOddServer)
        config->setUpdateServer(QStringLiteral("127.0.0.1"), oddServer.queryPort());

    QTEST(config->parseCommandLineOptions(arguments), "settled");
    QTEST(int(config->channel), "channel");
    QTEST(config->clientType, "clientType");
    QTEST(config->clientVersion, "clientVersion");
    QTEST(config->versionString, "versionString");
    QTEST(config->newsText, "newsText");
    QTEST(config->unattended, "unattended");
    QStringList errors;
    for (const QList<QVariant> &signal : std::as_const(*fatalErrors))
        errors << signal.first().toString();
    QTEST(errors, "errors");
    QCOMPARE(retryQuestions, 0);
}

void tst_Configuration::clientTypeVersionErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("clientType");
    QTest::addColumn<QString>("error");

    QTest::newRow("no type") << QStringList{QStringLiteral("update")} << 1 << QString()
                             << QStringLiteral("No client type specified");
    QTest::newRow("no version") << QStringList{QStringLiteral("update"), QStringLiteral("t")}
                                << 1 << QStringLiteral("t")
                                << QStringLiteral("No client version specified");
}

void tst_Configuration::clientTypeVersionErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, index);

    QVERIFY(!config->getClientTypeVersion(arguments, index));
    QTEST(config->clientType, "clientType");
    QCOMPARE(fatalErrors->size(), 1);
    QTEST(fatalErrors->first().first().toString(), "error");
}

void tst_Configuration::retryThenAbort()
{
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
    config->setUpdateServer(QStringLiteral("127.0.0.1"), silent.localPort());

    QList<qint64> askedAt;
    QElapsedTimer clock;
    config->setRetryQuestion([&] {
        askedAt << clock.elapsed();
        return askedAt.size() == 1; // retry once, then abort
    });

    QString news = QStringLiteral("unchanged");
    clock.start();
    const QPair<QString, QString> latest = config->getLatestClientVersion(Stable, news);

    QCOMPARE(latest, qMakePair(QString(), QString()));
    QCOMPARE(news, QStringLiteral("unchanged"));
    QCOMPARE(askedAt.size(), 2);
    // Each attempt waits about five seconds for the version reply.
    QVERIFY2(askedAt.at(0) >= 4900 && askedAt.at(1) - askedAt.at(0) >= 4900,
             qPrintable(QStringLiteral("%1 %2").arg(askedAt.at(0)).arg(askedAt.at(1))));
    int requests = 0;
    while (silent.hasPendingDatagrams()) {
        QCOMPARE(silent.receiveDatagram().data(), QByteArray("3\0", 2));
        ++requests;
    }
    QCOMPARE(requests, 2);
    QCOMPARE(fatalErrors->size(), 0);
}

void tst_Configuration::proxyAndStreams_data()
{
    QTest::addColumn<QString>("updateIni");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("streams");

    QTest::newRow("no update.ini") << QString() << QString() << 6;
    QTest::newRow("proxy and 40 streams")
            << QStringLiteral("[update]\nproxy=http://proxy.halvex.example:8080\nstreams=40\n")
            << QStringLiteral("http://proxy.halvex.example:8080") << 40;
    QTest::newRow("zero streams") << QStringLiteral("[update]\nstreams=0\n") << QString() << 6;
    QTest::newRow("negative streams") << QStringLiteral("[update]\nstreams=-2\n") << QString()
                                      << 6;
    QTest::newRow("word for streams") << QStringLiteral("[update]\nstreams=many\n") << QString()
                                      << 6;
    QTest::newRow("one stream") << QStringLiteral("[update]\nstreams=1\n") << QString() << 1;
}

void tst_Configuration::proxyAndStreams()
{
    QFETCH(QString, updateIni);
    if (!updateIni.isNull())
        writeUpdateIni(updateIni);

    config->getProxyAndDownloadConcurrency();
    QTEST(config->proxy, "proxy");
    QTEST(config->streams, "streams");
}

void tst_Configuration::specialFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("special");

    QTest::newRow("updater") << QStringLiteral("update") << true;
    QTest::newRow("core library") << QStringLiteral("libQtCore.so.4") << true;
    QTest::newRow("accessible plug-in") << QStringLiteral("libqtaccessiblewidgets.so") << true;
    QTest::newRow("case differs") << QStringLiteral("Update") << false;
    QTest::newRow("already moved aside") << QStringLiteral("_old_update") << false;
    QTest::newRow("client") << QStringLiteral("hvxclient_linux_x86") << false;
}

void tst_Configuration::specialFileNames()
{
    QFETCH(QString, name);
    QTEST(config->isSpecialFileName(name), "special");
}

void tst_Configuration::createTempDirSkipsTakenNames_data()
{
    QTest::addColumn<QString>("takenBy");

    QTest::newRow("nothing") << QString();
    QTest::newRow("directory") << QStringLiteral("directory");
    QTest::newRow("file") << QStringLiteral("file");
    // Someone else's name pointing elsewhere must not be followed.
    QTest::newRow("symbolic link") << QStringLiteral("symlink");
}

void tst_Configuration::createTempDirSkipsTakenNames()
{
    QFETCH(QString, takenBy);

    QTemporaryDir systemTemp;
    QVERIFY(systemTemp.isValid());
    const EnvironmentOverride tmpdir("TMPDIR", QFile::encodeName(systemTemp.path()));
    const QDir temp(systemTemp.path());
    const QString first = temp.filePath(QStringLiteral("halvex_temp_0"));
    const QString elsewhere = temp.filePath(QStringLiteral("elsewhere"));
    if (takenBy == QLatin1String("directory")) {
        QVERIFY(temp.mkdir(QStringLiteral("halvex_temp_0")));
    } else if (takenBy == QLatin1String("file")) {
        QFile file(first);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (takenBy == QLatin1String("symlink")) {
        QVERIFY(temp.mkdir(QStringLiteral("elsewhere")));
        QVERIFY(QFile::link(elsewhere, first));
    }

    QVERIFY(config->createTempDir());
    const QString expected = temp.filePath(takenBy.isEmpty() ? QStringLiteral("halvex_temp_0")
                                                             : QStringLiteral("halvex_temp_1"));
    QCOMPARE(config->tempDir, expected);
    struct stat info = {};
    QCOMPARE(::lstat(QFile::encodeName(expected).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_mode & 07777, mode_t(0700));
    QCOMPARE(fatalErrors->size(), 0);
}

void tst_Configuration::createTempDirFailures_data()
{
    QTest::addColumn<QString>("tmpdir");
    QTest::addColumn<QString>("error");

    // The system's temporary directory is reported only when it exists.
    QTest::newRow("no temp directory") << QStringLiteral("missing")
                                       << QStringLiteral("Unable to get temp directory.");
    QTest::newRow("nothing can be created") << QStringLiteral("file")
                                            << QStringLiteral("Unable to create temp directory.");
}

void tst_Configuration::createTempDirFailures()
{
    QFETCH(QString, tmpdir);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString path = scratch.filePath(tmpdir);
    if (tmpdir == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const EnvironmentOverride tmpdirOverride("TMPDIR", QFile::encodeName(path));

    QVERIFY(!config->createTempDir());
    QVERIFY(config->tempDir.isEmpty());
    QCOMPARE(fatalErrors->size(), 1);
    QTEST(fatalErrors->first().first().toString(), "error");
}

void tst_Configuration::initalizeStartAdoptsGivenDir()
{
    QTemporaryDir systemTemp;
    QVERIFY(systemTemp.isValid());
    const EnvironmentOverride tmpdir("TMPDIR", QFile::encodeName(systemTemp.path()));

    // A recorded directory is taken as it is, even one that is gone.
    QVERIFY(config->initalizeStart(QStringLiteral("/nonexistent/halvex_temp_7")));
    QCOMPARE(config->tempDir, QStringLiteral("/nonexistent/halvex_temp_7"));
    QVERIFY(QDir(systemTemp.path()).isEmpty());

    QVERIFY(config->initalizeStart(QString()));
    QCOMPARE(config->tempDir, QDir(systemTemp.path()).filePath(QStringLiteral("halvex_temp_0")));
    QVERIFY(QFileInfo(config->tempDir).isDir());
}

QTEST_GUILESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
