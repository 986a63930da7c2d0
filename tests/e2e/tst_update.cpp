// The real updater, as a user or a client's launcher runs it: a copy of the
// built executable in an installation directory, a window on an X server,
// mirrors on nginx, and the update server on its well-known ports.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "demokey.h"
#include "nginxserver.h"
#include "updateserverprocess.h"
#include "xsession.h"

#include <sys/stat.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString MainTitle = u"Halvex Client Update"_s;
// Sanitizer builds of a GUI start slowly.
constexpr int RunTimeoutMs = 240000;

bool writeFile(const QString &path, const QByteArray &content, int mode = 0644)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Relative paths of the files below dir, sorted.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool copyTree(const QString &from, const QString &to)
{
    for (const QString &file : filesBelow(from)) {
        const QString target = QDir(to).filePath(file);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(QDir(from).filePath(file), target))
            return false;
    }
    return true;
}

QByteArray startScript(int release)
{
    return "#!/bin/sh\necho \"client " + QByteArray::number(release)
            + " started\" > \"$(dirname \"$0\")/client-started\"\n";
}

} // namespace

class tst_Update : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void unattendedUpdate();
    void exitCodes_data();
    void exitCodes();
    void secondStartRaisesFirst();

private:
    // An installation of release 1 with a copy of the updater; mirrors.ini
    // names the test's mirror unless withMirrors is false.
    void makeInstallation(bool withMirrors);
    void startUpdater(QProcess &process, const QStringList &arguments,
                      const QString &locale = u"C"_s) const;
    // The first mapped window titled title while process runs; 0 if none
    // comes within timeoutMs.
    quint64 waitForWindow(const QString &title, const QProcess &process,
                          int timeoutMs = RunTimeoutMs) const;
    QString output(QProcess &process) const;

    std::unique_ptr<XvfbServer> xserver;
    std::unique_ptr<XSession> x;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<NginxServer> nginx;
    UpdateServerProcess updateServer;
    QString install;
    QString release1;
    QString release2;
    QString mirrorRoot;
    QString tempDir;
};

void tst_Update::initTestCase()
{
    if (!DemoKey::isBuiltIn())
        QSKIP("the updater is built with another key than the demo key that signs here");
    QVERIFY(QFile::exists(QStringLiteral(HALVEX_UPDATE_BINARY)));
    xserver = std::make_unique<XvfbServer>();
    QVERIFY2(xserver->isRunning(), "Xvfb did not start");
    x = std::make_unique<XSession>(xserver->display());
    QVERIFY(x->isOpen());
}

void tst_Update::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    install = work->filePath(u"install"_s);
    release1 = work->filePath(u"release1"_s);
    release2 = work->filePath(u"release2"_s);
    mirrorRoot = work->filePath(u"mirror"_s);
    tempDir = work->filePath(u"tmp"_s);
    QVERIFY(QDir().mkpath(mirrorRoot));
    QVERIFY(QDir().mkpath(tempDir));

    // Release 1 is installed; release 2 changes, adds, compresses and
    // deletes files.
    QVERIFY(writeFile(release1 + u"/hvxclient_runscript.sh"_s, startScript(1), 0755));
    QVERIFY(writeFile(release1 + u"/data/readme.txt"_s, "Release 1\n"));
    QVERIFY(writeFile(release1 + u"/data/obsolete.txt"_s, "Gone in release 2\n"));
    QVERIFY(writeFile(release1 + u"/maps/arena.map"_s, "arena\n"));
    QVERIFY(writeFile(release2 + u"/hvxclient_runscript.sh"_s, startScript(2), 0755));
    QVERIFY(writeFile(release2 + u"/hvxclient_linux_x86"_s, "client binary 2\n"));
    QVERIFY(writeFile(release2 + u"/libs/libhalvex.so"_s, "library 2\n"));
    QVERIFY(writeFile(release2 + u"/data/readme.txt"_s, "Release 2\n"));
    QVERIFY(writeFile(release2 + u"/maps/arena.map"_s, "arena\n"));
    QVERIFY(writeFile(release2 + u"/maps/new/canyon.map"_s, "canyon\n"));
    QByteArray textures;
    for (int i = 0; i < 20000; ++i)
        textures += QByteArray::number(i * 7919 % 10007) + ' ';
    QVERIFY(writeFile(release2 + u"/data/textures.pak"_s, textures));
    QVERIFY(writeFile(work->filePath(u"changelog.txt"_s), "Release 2\n* new canyon map\n"));

    QProcess pack;
    pack.setProcessChannelMode(QProcess::MergedChannels);
    pack.start(QStringLiteral(HALVEX_RELEASE_TOOL),
               {u"pack"_s, u"--key"_s, DemoKey::directory() + u"/private.der"_s, u"--type"_s,
                u"client_linux_x86"_s, u"--version"_s, u"2"_s, u"--from"_s, release2, u"--mirror"_s,
                mirrorRoot, u"--previous"_s, release1, u"--gzip"_s, u"*.pak"_s, u"--changelog"_s,
                work->filePath(u"changelog.txt"_s)});
    QVERIFY(pack.waitForFinished(60000));
    QVERIFY2(pack.exitCode() == 0, pack.readAll().constData());

    QFile banner(QStringLiteral(HALVEX_TEST_SOURCE_DIR "/demo/banner.png"));
    QVERIFY(banner.copy(mirrorRoot + u"/banner.png"_s));

    nginx = std::make_unique<NginxServer>(mirrorRoot);
    QVERIFY(nginx->isRunning());

    // The updater asks its update server on fixed ports.
    const QString settings = work->filePath(u"server.ini"_s);
    QVERIFY(UpdateServerProcess::writeSettings(
            settings, {{u"2#2.0"_s}, u"News of release 2"_s, nginx->url(u"banner.png"_s),
                       u"https://www.halvex.example/"_s}));
    QVERIFY2(updateServer.start(settings, {u"--port"_s, u"17384"_s, u"--banner-port"_s, u"2009"_s}),
             qPrintable(updateServer.log()));
}

void tst_Update::cleanup()
{
    updateServer.stop();
    nginx.reset();
    work.reset();
}

void tst_Update::makeInstallation(bool withMirrors)
{
    QVERIFY(copyTree(release1, install));
    const QString updater = install + u"/update"_s;
    QVERIFY(QFile::copy(QStringLiteral(HALVEX_UPDATE_BINARY), updater));
    QVERIFY(::chmod(QFile::encodeName(updater).constData(), 0755) == 0);
    QVERIFY(writeFile(install + u"/update.ini"_s, "[update]\nstreams=3\n"));
    if (withMirrors) {
        QVERIFY(writeFile(install + u"/mirrors.ini"_s,
                          "[mirrors]\nsize=2\n1\\mirror=one\n2\\mirror=two\n[one]\nurl="
                                  + nginx->url().toUtf8() + "\n[two]\nurl=" + nginx->url().toUtf8()
                                  + "\n"));
    }
}

void tst_Update::startUpdater(QProcess &process, const QStringList &arguments, const QString &locale) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"QT_QPA_PLATFORM"_s);
    environment.remove(u"LANGUAGE"_s);
    environment.insert(u"DISPLAY"_s, xserver->display());
    environment.insert(u"TMPDIR"_s, tempDir);
    environment.insert(u"LC_ALL"_s, locale);
    environment.insert(u"LANG"_s, locale);
    // Under the sanitizers: the X keyboard library copies names out of the X
    // server's replies with strndup, which reads only up to the given length;
    // strict string checks would count the unterminated buffer as an overflow.
    QString sanitizerOptions = environment.value(u"ASAN_OPTIONS"_s);
    if (!sanitizerOptions.isEmpty()) {
        sanitizerOptions.replace(u"strict_string_checks=1"_s, u"strict_string_checks=0"_s);
        environment.insert(u"ASAN_OPTIONS"_s, sanitizerOptions);
    }
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(install);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(install + u"/update"_s, arguments);
}

quint64 tst_Update::waitForWindow(const QString &title, const QProcess &process, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && process.state() == QProcess::Running) {
        const QList<quint64> windows = x->windowsTitled(title);
        if (!windows.isEmpty())
            return windows.first();
        QTest::qWait(100);
    }
    return 0;
}

QString tst_Update::output(QProcess &process) const
{
    return QString::fromLocal8Bit(process.readAll());
}

void tst_Update::unattendedUpdate()
{
    makeInstallation(true);

    QProcess updater;
    startUpdater(updater, {u"--nouser"_s});
    QVERIFY(updater.waitForStarted());
    QVERIFY(waitForWindow(MainTitle, updater) != 0);
    QVERIFY(updater.waitForFinished(RunTimeoutMs));
    const QString log = output(updater);
    QVERIFY2(updater.exitStatus() == QProcess::NormalExit && updater.exitCode() == 0, qPrintable(log));

    // The client was started through its new start script.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(install + u"/client-started"_s), QByteArray("client 2 started\n"),
                              20000);

    // The installation is release 2, beside the updater's own files.
    QStringList expected = filesBelow(release2);
    expected << u"client-started"_s << u"mirrors.ini"_s << u"update"_s << u"update.ini"_s;
    expected.sort();
    QCOMPARE(filesBelow(install), expected);
    for (const QString &file : filesBelow(release2))
        QVERIFY2(readFile(install + u'/' + file) == readFile(release2 + u'/' + file), qPrintable(file));
    // Executables and libraries run for everyone; only their owner may
    // change them.
    for (const QString &executable :
         {u"hvxclient_runscript.sh"_s, u"hvxclient_linux_x86"_s, u"libs/libhalvex.so"_s})
        QCOMPARE(modeOf(install + u'/' + executable), 0755);

    // The session is gone: no temporary directory, no record.
    QCOMPARE(QDir(tempDir).entryList({u"halvex_temp_*"_s}, QDir::AllEntries | QDir::Hidden), QStringList());
    const QSettings updateIni(install + u"/update.ini"_s, QSettings::IniFormat);
    QVERIFY(!updateIni.childGroups().contains(u"current"_s));

    // The banner was asked for and fetched, and so was nothing else by name
    // but the release.
    QTRY_VERIFY(nginx->accessLog().contains(u"GET /banner.png"_s));
    QVERIFY(nginx->accessLog().contains(u"GET /2/client_linux_x86.ini "_s));
}

void tst_Update::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withMirrors");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("invalid version") << QStringList({u"client_linux_x86"_s, u"12a"_s}) << true << "C"
                                     << "Error" << false << 1;
    QTest::newRow("invalid version, German") << QStringList({u"client_linux_x86"_s, u"12a"_s}) << true
                                             << "de_DE.UTF-8" << "Fehler" << false << 1;
    QTest::newRow("no mirrors.ini")
            << QStringList({u"--nouser"_s, u"client_linux_x86"_s, u"2"_s, u"#"_s, u"News"_s}) << false << "C"
            << "Error" << true << 2;
}

void tst_Update::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withMirrors);
    QFETCH(QString, locale);
    QFETCH(QString, boxTitle);
    QFETCH(bool, windowShown);

    makeInstallation(withMirrors);
    QProcess updater;
    startUpdater(updater, arguments, locale);
    QVERIFY(updater.waitForStarted());

    const quint64 box = waitForWindow(boxTitle, updater);
    QVERIFY2(box != 0, qPrintable(output(updater)));
    QCOMPARE(!x->windowsTitled(MainTitle).isEmpty(), windowShown);
    // The user answers the box.
    x->closeWindow(box);
    QVERIFY(updater.waitForFinished(RunTimeoutMs));
    QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
    QTEST(updater.exitCode(), "exitCode");
}

void tst_Update::secondStartRaisesFirst()
{
    makeInstallation(true);
    const QStringList arguments = {u"client_linux_x86"_s, u"2"_s};
    QProcess first;
    startUpdater(first, arguments);
    QVERIFY(first.waitForStarted());
    const quint64 window = waitForWindow(MainTitle, first);
    QVERIFY2(window != 0, qPrintable(output(first)));

    const quint64 cover = x->createCover();
    QVERIFY(x->stackingIndex(cover) > x->stackingIndex(window));

    QProcess second;
    startUpdater(second, arguments);
    QVERIFY(second.waitForFinished(RunTimeoutMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(x->stackingIndex(window) > x->stackingIndex(cover), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(x->inputFocus(), window, 20000);
    QCOMPARE(x->windowsTitled(MainTitle).size(), 1);

    // Closed while idle, it ends normally.
    x->closeWindow(window);
    QVERIFY(first.waitForFinished(RunTimeoutMs));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_Update)
#include "tst_update.moc"
