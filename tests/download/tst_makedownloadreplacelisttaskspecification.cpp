#include "core/configuration.h"
#include "download/filespecifications.h"
#include "download/makedownloadreplacelisttaskspecification.h"

#include "demokey.h"
#include "disktree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <memory>

namespace {

const QString Type = QStringLiteral("client_linux_x86");
const QString Compiling = QStringLiteral("Compiling download and replace list");
const QString NoFiles = QStringLiteral("No files in product ini");

// What a product file holds on the mirror and, for a compressed entry, once
// unpacked.
const QByteArray Stored("stored bytes of the release\n");
const QByteArray Unpacked("unpacked bytes of the release, a little longer\n");

QString md5(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

// A value of the 2-field form for a file stored as stored.
QString plainValue(const QByteArray &stored)
{
    return md5(stored) + QStringLiteral("::") + QString::number(stored.size());
}

// A value of the 5-field form: stored compressed, installed as name.
QString packedValue(const QByteArray &stored, const QByteArray &unpacked, const QString &name)
{
    return plainValue(stored) + QStringLiteral("::") + md5(unpacked) + QStringLiteral("::")
            + QString::number(unpacked.size()) + QStringLiteral("::") + name;
}

void put(const QString &root, const QString &relative, const QByteArray &content)
{
    const QString path = root + u'/' + relative;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        qFatal("cannot create the directory of %s", qPrintable(path));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString downloadLine(const QString &section, const QString &fileName, const QString &sum, qint64 size)
{
    return QStringLiteral("download %1|%2|%3|%4").arg(section, fileName, sum).arg(size);
}

QString replaceLine(const QString &section, const QString &fileName, const QString &unzipSum = {},
                    qint64 unzipSize = 0, const QString &unzipName = {})
{
    return QStringLiteral("replace %1|%2|%3|%4|%5")
            .arg(section, fileName, unzipSum)
            .arg(unzipSize)
            .arg(unzipName);
}

// The three lists as one list of lines, so that a whole result compares at once.
QStringList describe(const FileSpecifications &lists)
{
    QStringList lines;
    for (const FileDownloadSpecification &d : lists.downloads)
        lines << downloadLine(d.section, d.fileName, d.md5, d.size);
    for (const FileReplaceSpecification &r : lists.replaces)
        lines << replaceLine(r.section, r.fileName, r.unzipMd5, r.unzipSize, r.unzipFileName);
    for (const QString &path : lists.deletes)
        lines << QStringLiteral("delete ") + path;
    return lines;
}

// What the caller's lists hold before the task runs: a failed run must leave
// it, a successful one must replace it entirely.
FileSpecifications sentinel()
{
    FileSpecifications lists;
    lists.downloads.append({QStringLiteral("earlier"), QStringLiteral("stale.bin"), md5("x"), 1});
    FileReplaceSpecification replace;
    replace.section = QStringLiteral("earlier");
    replace.fileName = QStringLiteral("stale.bin");
    lists.replaces.append(replace);
    lists.deletes.append(QStringLiteral("stale.txt"));
    return lists;
}

using Sections = QList<QPair<QString, QList<QPair<QString, QString>>>>;

struct Outcome
{
    TaskSpecification::State state = TaskSpecification::Idle;
    QStringList messages;
    QList<qreal> progress;
    // The caller's lists after the run.
    QStringList lists;
};

} // namespace

class tst_MakeDownloadReplaceListTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void destFileName_data();
    void destFileName();

    void alreadyCurrent();
    void oneEntry_data();
    void oneEntry();
    void orderSectionsAndDirectories();
    void deleteSectionInAnotherCase();
    void emptySumNeverMatches();
    void invalidLine_data();
    void invalidLine();
    void noFiles_data();
    void noFiles();
    void unsafePath_data();
    void unsafePath();
    void namesThatStayInside_data();
    void namesThatStayInside();
    void progress();
    void destroyedWhileRunning();
    void readsWhatTheReleaseToolWrites();

private:
    QString productIniPath() const { return tempDir->path() + u'/' + Type + QStringLiteral(".ini"); }
    // Writes the product ini through the settings class, as the release tool does.
    void writeIni(const Sections &sections);
    void writeRawIni(const QByteArray &text);
    Outcome runTask(double weight = 1.0);

    std::unique_ptr<QTemporaryDir> installDir;
    std::unique_ptr<QTemporaryDir> tempDir;
    Configuration configuration;
};

void tst_MakeDownloadReplaceListTaskSpecification::init()
{
    installDir = std::make_unique<QTemporaryDir>();
    tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(installDir->isValid() && tempDir->isValid());
    Configuration::setAppRootPath(installDir->path());
    configuration.clientType = Type;
    configuration.tempDir = tempDir->path();
}

void tst_MakeDownloadReplaceListTaskSpecification::cleanup()
{
    Configuration::setAppRootPath(QString());
}

void tst_MakeDownloadReplaceListTaskSpecification::writeIni(const Sections &sections)
{
    QSettings ini(productIniPath(), QSettings::IniFormat);
    for (const auto &section : sections) {
        ini.beginGroup(section.first);
        for (const auto &entry : section.second)
            ini.setValue(entry.first, entry.second);
        ini.endGroup();
    }
    ini.sync();
    QCOMPARE(ini.status(), QSettings::NoError);
}

void tst_MakeDownloadReplaceListTaskSpecification::writeRawIni(const QByteArray &text)
{
    put(tempDir->path(), Type + QStringLiteral(".ini"), text);
}

Outcome tst_MakeDownloadReplaceListTaskSpecification::runTask(double weight)
{
    FileSpecifications target = sentinel();
    MakeDownloadReplaceListTaskSpecification task(&configuration, target, nullptr, weight);
    Outcome outcome;
    connect(&task, &TaskSpecification::message, this,
            [&outcome](const QString &text) { outcome.messages << text; });
    connect(&task, &TaskSpecification::updateProgress, this,
            [&outcome](qreal value) { outcome.progress << value; });
    task.execute();
    // A task still running is caught by the caller's check of the state.
    if (!QTest::qWaitFor([&task] { return task.getState() != TaskSpecification::Running; }, 20000))
        qWarning("the task did not end");
    outcome.state = task.getState();
    outcome.lists = describe(target);
    return outcome;
}

void tst_MakeDownloadReplaceListTaskSpecification::destFileName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("unzipFileName");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("expected");

    const QString old = QStringLiteral("_old_");
    QTest::newRow("top level") << "update" << "" << old << "_old_update";
    QTest::newRow("in a directory") << "plugins/libx.so" << "" << old << "plugins/_old_libx.so";
    QTest::newRow("deep") << "a/b/c/d.so" << "" << old << "a/b/c/_old_d.so";
    QTest::newRow("compressed: the unpacked name") << "lib/libx.so.gz" << "lib/libx.so" << old
                                                   << "lib/_old_libx.so";
    QTest::newRow("compressed to another directory") << "pkg/x.gz" << "bin/x" << old << "bin/_old_x";
    QTest::newRow("no prefix") << "plugins/libx.so" << "" << "" << "plugins/libx.so";
    QTest::newRow("no prefix, compressed") << "lib/libx.so.gz" << "lib/libx.so" << "" << "lib/libx.so";
    QTest::newRow("other prefix") << "a/b" << "" << "new-" << "a/new-b";
}

void tst_MakeDownloadReplaceListTaskSpecification::destFileName()
{
    QFETCH(QString, fileName);
    QFETCH(QString, unzipFileName);
    QFETCH(QString, prefix);
    QFETCH(QString, expected);

    FileReplaceSpecification spec;
    spec.fileName = fileName;
    spec.unzipFileName = unzipFileName;
    QCOMPARE(spec.hasUnzip(), !unzipFileName.isEmpty());
    QCOMPARE(spec.pureDestFilePath(), unzipFileName.isEmpty() ? fileName : unzipFileName);
    QCOMPARE(spec.destFileName(prefix), expected);
    if (prefix == QLatin1String("_old_"))
        QCOMPARE(spec.oldDestFileName(), expected);
}

// Nothing to fetch or replace; only the obsolete files that are still there
// are to be deleted.
void tst_MakeDownloadReplaceListTaskSpecification::alreadyCurrent()
{
    const QString root = installDir->path();
    put(root, QStringLiteral("hvxclient_linux_x86"), Stored);
    put(root, QStringLiteral("plugins/platforms/libqxcb.so"), Unpacked);
    put(root, QStringLiteral("old.txt"), "obsolete");
    put(root, QStringLiteral("plugins/obsolete/libgone.so"), "obsolete");
    writeIni({{Type,
               {{QStringLiteral("hvxclient_linux_x86"), plainValue(Stored)},
                {QStringLiteral("plugins/platforms/libqxcb.so.gz"),
                 packedValue("packed", Unpacked, QStringLiteral("plugins/platforms/libqxcb.so"))}}},
              {QStringLiteral("delete"),
               {{QStringLiteral("old.txt"), QString()},
                {QStringLiteral("never/was/here.txt"), QString()},
                {QStringLiteral("plugins/obsolete/libgone.so"), QString()}}}});

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.messages, QStringList{Compiling});
    QCOMPARE(outcome.lists, (QStringList{QStringLiteral("delete old.txt"),
                                         QStringLiteral("delete plugins/obsolete/libgone.so")}));
}

void tst_MakeDownloadReplaceListTaskSpecification::oneEntry_data()
{
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<bool>("upperCaseSums");
    // Null: no such file.
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<QByteArray>("earlierDownload");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("downloaded");

    const QByteArray none;
    const QByteArray old("an older release\n");
    QTest::newRow("installed copy matches") << false << false << Stored << none << false << false;
    QTest::newRow("upper-case sum matches") << false << true << Stored << none << false << false;
    QTest::newRow("installed copy differs") << false << false << old << none << true << true;
    QTest::newRow("not installed") << false << false << none << none << true << true;
    QTest::newRow("earlier download intact") << false << false << old << Stored << true << false;
    QTest::newRow("not installed, earlier download intact") << false << false << none << Stored << true
                                                            << false;
    QTest::newRow("upper-case sum, earlier download intact") << false << true << old << Stored << true
                                                             << false;
    QTest::newRow("earlier download corrupt") << false << false << old << QByteArray("broken") << true
                                              << true;
    QTest::newRow("compressed, unpacked file matches") << true << false << Unpacked << none << false
                                                       << false;
    QTest::newRow("compressed, upper-case unpacked sum matches") << true << true << Unpacked << none
                                                                 << false << false;
    QTest::newRow("compressed, unpacked file differs") << true << false << old << none << true << true;
    QTest::newRow("compressed, installed file holds the packed bytes") << true << false << Stored << none
                                                                       << true << true;
    QTest::newRow("compressed, earlier download intact") << true << false << old << Stored << true
                                                         << false;
    QTest::newRow("compressed, earlier download is the unpacked file") << true << false << old
                                                                       << Unpacked << true << true;
}

// One product file against what the installation and the temporary
// directory hold.
void tst_MakeDownloadReplaceListTaskSpecification::oneEntry()
{
    QFETCH(bool, compressed);
    QFETCH(bool, upperCaseSums);
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, earlierDownload);
    QFETCH(bool, replaced);
    QFETCH(bool, downloaded);

    const QString section = QStringLiteral("files");
    const QString name = QStringLiteral("lib/libx.so");
    const QString key = compressed ? name + QStringLiteral(".gz") : name;
    QString value = compressed ? packedValue(Stored, Unpacked, name) : plainValue(Stored);
    if (upperCaseSums)
        value = value.toUpper().replace(QStringLiteral("LIB/LIBX.SO"), name);
    writeIni({{section, {{key, value}}}});
    if (!installed.isNull())
        put(installDir->path(), name, installed);
    if (!earlierDownload.isNull())
        put(tempDir->path(), key, earlierDownload);

    const QStringList fields = value.split(QStringLiteral("::"));
    QStringList expected;
    if (downloaded)
        expected << downloadLine(section, key, fields[0], Stored.size());
    if (replaced) {
        expected << (compressed ? replaceLine(section, key, fields[2], Unpacked.size(), name)
                                : replaceLine(section, key));
    }

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.messages, QStringList{Compiling});
    QCOMPARE(outcome.lists, expected);
    // Nothing named like the key lies in the installation: the check goes by
    // the unpacked name.
    if (compressed)
        QVERIFY(!QFileInfo::exists(installDir->path() + u'/' + key));
}

// Sections and keys come in the reader's order, keys with their directories.
void tst_MakeDownloadReplaceListTaskSpecification::orderSectionsAndDirectories()
{
    writeIni({{QStringLiteral("zeta"),
               {{QStringLiteral("z.txt"), plainValue("z")},
                {QStringLiteral("dir/sub/y.txt"), plainValue("y")},
                {QStringLiteral("a.txt"), md5("a") + QStringLiteral("::not a number")}}},
              {QStringLiteral("alpha"),
               {{QStringLiteral("bin/tool"), packedValue("t.gz", "t", QStringLiteral("bin/tool"))}}}});

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    const QString alpha = QStringLiteral("alpha");
    const QString zeta = QStringLiteral("zeta");
    QCOMPARE(outcome.lists,
             (QStringList{downloadLine(alpha, QStringLiteral("bin/tool"), md5("t.gz"), 4),
                          downloadLine(zeta, QStringLiteral("a.txt"), md5("a"), 0),
                          downloadLine(zeta, QStringLiteral("dir/sub/y.txt"), md5("y"), 1),
                          downloadLine(zeta, QStringLiteral("z.txt"), md5("z"), 1),
                          replaceLine(alpha, QStringLiteral("bin/tool"), md5("t"), 1,
                                      QStringLiteral("bin/tool")),
                          replaceLine(zeta, QStringLiteral("a.txt")),
                          replaceLine(zeta, QStringLiteral("dir/sub/y.txt")),
                          replaceLine(zeta, QStringLiteral("z.txt"))}));
}

// Only "delete" in exactly that case lists files to delete; "Delete" is a
// section of product files like any other.
void tst_MakeDownloadReplaceListTaskSpecification::deleteSectionInAnotherCase()
{
    put(installDir->path(), QStringLiteral("old.txt"), "an older release");
    const QString section = QStringLiteral("Delete");
    writeIni({{section, {{QStringLiteral("old.txt"), plainValue(Stored)}}}});

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.lists,
             (QStringList{downloadLine(section, QStringLiteral("old.txt"), md5(Stored), Stored.size()),
                          replaceLine(section, QStringLiteral("old.txt"))}));
}

// An empty sum is no MD5 sum of anything. The file checker would take it as
// a request to check a signature beside the file, and an installed file with
// a valid signature would pass as up to date.
void tst_MakeDownloadReplaceListTaskSpecification::emptySumNeverMatches()
{
    if (!DemoKey::isBuiltIn())
        QSKIP("the build does not use the demo key");
    const QByteArray content("a file with a valid signature beside it\n");
    put(installDir->path(), QStringLiteral("signed.txt"), content);
    put(installDir->path(), QStringLiteral("signed.txt.sig"), DemoKey::sign(content));
    put(tempDir->path(), QStringLiteral("signed.txt"), content);
    put(tempDir->path(), QStringLiteral("signed.txt.sig"), DemoKey::sign(content));
    const QString section = QStringLiteral("files");
    writeIni({{section, {{QStringLiteral("signed.txt"), QStringLiteral("::") + QString::number(content.size())}}}});

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.lists,
             (QStringList{downloadLine(section, QStringLiteral("signed.txt"), QString(), content.size()),
                          replaceLine(section, QStringLiteral("signed.txt"))}));
}

void tst_MakeDownloadReplaceListTaskSpecification::invalidLine_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("value");

    const QString sum = md5(Stored);
    const QString files = QStringLiteral("files");
    QTest::newRow("one field") << files << sum;
    QTest::newRow("three fields") << files << sum + QStringLiteral("::28::extra");
    QTest::newRow("four fields") << files << sum + QStringLiteral("::28::") + sum + QStringLiteral("::10");
    QTest::newRow("six fields") << files << packedValue(Stored, Unpacked, QStringLiteral("x")) + QStringLiteral("::");
    QTest::newRow("empty value") << files << QString();
    QTest::newRow("trailing separator makes three") << files << plainValue(Stored) + QStringLiteral("::");
    QTest::newRow("Delete in another case, empty value") << QStringLiteral("Delete") << QString();
}

// One bad value invalidates the whole product ini, even after good entries.
void tst_MakeDownloadReplaceListTaskSpecification::invalidLine()
{
    QFETCH(QString, section);
    QFETCH(QString, value);

    writeIni({{QStringLiteral("aaa"), {{QStringLiteral("good.txt"), plainValue(Stored)}}},
              {section, {{QStringLiteral("bad.txt"), value}}}});

    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::ErrorCanceled);
    QCOMPARE(outcome.messages,
             (QStringList{Compiling,
                          QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section)}));
    QCOMPARE(outcome.lists, describe(sentinel()));
}

void tst_MakeDownloadReplaceListTaskSpecification::noFiles_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("missing") << false << QByteArray();
    QTest::newRow("empty") << true << QByteArray();
    QTest::newRow("keys outside any section") << true
                                              << QByteArray("top.txt=d41d8cd98f00b204e9800998ecf8427e::0\n");
    QTest::newRow("General section") << true
                                     << QByteArray("[General]\ntop.txt=d41d8cd98f00b204e9800998ecf8427e::0\n");
    QTest::newRow("sections without keys") << true << QByteArray("[client_linux_x86]\n[delete]\n");
}

void tst_MakeDownloadReplaceListTaskSpecification::noFiles()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, text);

    if (exists)
        writeRawIni(text);
    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::ErrorCanceled);
    QCOMPARE(outcome.messages, (QStringList{Compiling, NoFiles}));
    QCOMPARE(outcome.lists, describe(sentinel()));
}

void tst_MakeDownloadReplaceListTaskSpecification::unsafePath_data()
{
    QTest::addColumn<QByteArray>("entries");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("section");

    // The product ini text as it would arrive, after a good section.
    const QByteArray value = plainValue(Stored).toLatin1();
    const auto packed = [](const char *name) {
        return packedValue(Stored, Unpacked, QString::fromLatin1(name)).toLatin1();
    };
    const QString files = QStringLiteral("files");
    const QString del = QStringLiteral("delete");

    QTest::newRow("key climbs out") << "[files]\n../x=" + value << "../x" << files;
    QTest::newRow("key climbs out midway") << "[files]\na/../../b=" + value << "a/../../b" << files;
    QTest::newRow("key climbs out, INI separators") << "[files]\n..\\..\\x=" + value << "../../x" << files;
    QTest::newRow("key is ..") << "[files]\n..=" + value << ".." << files;
    QTest::newRow("absolute key") << "[files]\n/etc/passwd=" + value << "/etc/passwd" << files;
    QTest::newRow("empty key") << "[files]\n=" + value << "" << files;
    QTest::newRow("delete key climbs out") << QByteArray("[delete]\n../outside.txt=\n") << "../outside.txt"
                                           << del;
    QTest::newRow("absolute delete key") << QByteArray("[delete]\n/etc/passwd=\n") << "/etc/passwd" << del;
    QTest::newRow("empty delete key") << QByteArray("[delete]\n=\n") << "" << del;
    QTest::newRow("unpacked name climbs out") << "[files]\nlib.gz=" + packed("../lib.so") << "../lib.so"
                                              << files;
    QTest::newRow("unpacked name climbs out midway") << "[files]\nlib.gz=" + packed("lib/../../x.so")
                                                     << "lib/../../x.so" << files;
    QTest::newRow("absolute unpacked name") << "[files]\nlib.gz=" + packed("/usr/lib/libx.so")
                                            << "/usr/lib/libx.so" << files;
    QTest::newRow("section climbs out") << "[..]\nk.txt=" + value << ".." << "..";
    // The reader lists a section "[/etc]" as an empty group, whose keys would
    // be every key of the file.
    QTest::newRow("section the reader lists as empty") << "[%2Fetc]\nk.txt=" + value << "" << "";
}

// Unsafe names fail the whole product ini before any entry is listed: no
// progress, no file looked at, the caller's lists untouched.
void tst_MakeDownloadReplaceListTaskSpecification::unsafePath()
{
    QFETCH(QByteArray, entries);
    QFETCH(QString, path);
    QFETCH(QString, section);

    writeRawIni("[aaa]\ngood.txt=" + plainValue(Stored).toLatin1() + "\n" + entries + "\n");
    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::ErrorCanceled);
    QCOMPARE(outcome.messages,
             (QStringList{Compiling, QStringLiteral("Warning: product ini contains unsafe path %1 in section %2")
                                             .arg(path, section)}));
    QVERIFY(outcome.progress.isEmpty());
    QCOMPARE(outcome.lists, describe(sentinel()));
}

void tst_MakeDownloadReplaceListTaskSpecification::namesThatStayInside_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("unzipFileName");

    const QByteArray value = plainValue(Stored).toLatin1();
    QTest::newRow("dots that are not a component") << "...=" + value << "..." << "";
    QTest::newRow("leading dots") << "..x/y..=" + value << "..x/y.." << "";
    // Not a separator here: one file named so, inside the directory.
    QTest::newRow("literal backslash") << "..%5Cx=" + value << "..\\x" << "";
    QTest::newRow("empty unpacked name: installed as downloaded")
            << "x.gz=" + value + "::" + md5(Unpacked).toLatin1() + "::0::" << "x.gz" << "";
    QTest::newRow("unpacked name with dots") << "x.gz=" + packedValue(Stored, Unpacked, QStringLiteral("a/..b/c..")).toLatin1()
                                             << "x.gz" << "a/..b/c..";
}

void tst_MakeDownloadReplaceListTaskSpecification::namesThatStayInside()
{
    QFETCH(QByteArray, entry);
    QFETCH(QString, fileName);
    QFETCH(QString, unzipFileName);

    writeRawIni("[files]\n" + entry + "\n");
    const Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.messages, QStringList{Compiling});
    QCOMPARE(outcome.lists.size(), 2);
    QVERIFY2(outcome.lists[0].startsWith(QStringLiteral("download files|") + fileName + u'|'),
             qPrintable(outcome.lists[0]));
    QVERIFY2(outcome.lists[1].startsWith(QStringLiteral("replace files|") + fileName + u'|'),
             qPrintable(outcome.lists[1]));
    QVERIFY2(outcome.lists[1].endsWith(u'|' + unzipFileName), qPrintable(outcome.lists[1]));
}

// One step per key, delete keys and keys in directories included, weighted by
// the task's share; the task's end brings it to its full share.
void tst_MakeDownloadReplaceListTaskSpecification::progress()
{
    put(installDir->path(), QStringLiteral("a.txt"), Stored);
    writeIni({{QStringLiteral("a"),
               {{QStringLiteral("a.txt"), plainValue(Stored)},
                {QStringLiteral("dir/sub/b.txt"), plainValue(Stored)}}},
              {QStringLiteral("delete"), {{QStringLiteral("c.txt"), QString()}}},
              {QStringLiteral("z"), {{QStringLiteral("d.txt"), plainValue(Stored)}}}});

    const Outcome outcome = runTask(0.5);
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.progress, (QList<qreal>{0.125, 0.25, 0.375, 0.5, 0.5}));
}

// The worker cannot be stopped; a task destroyed meanwhile must not leave it
// writing into freed lists, nor touch the caller's lists.
void tst_MakeDownloadReplaceListTaskSpecification::destroyedWhileRunning()
{
    // Large installed files keep the worker hashing for a while.
    const QByteArray big(16 * 1024 * 1024, 'b');
    Sections sections{{QStringLiteral("files"), {}}};
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("big%1.bin").arg(i);
        put(installDir->path(), name, big);
        sections[0].second.append({name, plainValue("something else")});
    }
    writeIni(sections);

    FileSpecifications target = sentinel();
    auto task = std::make_unique<MakeDownloadReplaceListTaskSpecification>(&configuration, target,
                                                                           nullptr, 1.0);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    task->execute();
    // The first message is emitted when the worker has begun.
    QVERIFY(messages.wait(10000));
    task.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(describe(target), describe(sentinel()));
}

// A release made by the release tool, with names the INI format must escape,
// read back against three installations.
void tst_MakeDownloadReplaceListTaskSpecification::readsWhatTheReleaseToolWrites()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString release = work.filePath(QStringLiteral("release"));
    const QString previous = work.filePath(QStringLiteral("previous"));
    const QString mirror = work.filePath(QStringLiteral("mirror"));

    const QMap<QString, QByteArray> files{
        {QStringLiteral("hvxclient_linux_x86"), QByteArray("\x7f" "ELF client 43")},
        {QStringLiteral("plugins/libhalvex.so"), QByteArray(5000, 'l')},
        {QStringLiteral("docs/read me, first.txt"), QByteArray("spaces and a comma\n")},
        {QStringLiteral("locale/de=\u00fc;[1].qm"), QByteArray("escaped characters\n")},
        {QStringLiteral("same.txt"), QByteArray("unchanged\n")},
    };
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        put(release, it.key(), it.value());
    put(previous, QStringLiteral("hvxclient_linux_x86"), "\x7f" "ELF client 42");
    put(previous, QStringLiteral("plugins/libhalvex.so"), "old library");
    put(previous, QStringLiteral("same.txt"), "unchanged\n");
    put(previous, QStringLiteral("plugins/obsolete/libgone.so"), "dropped since");

    QProcess tool;
    tool.start(QStringLiteral(HALVEX_RELEASE_TOOL),
               {QStringLiteral("pack"), QStringLiteral("--key"), DemoKey::directory() + QStringLiteral("/private.der"),
                QStringLiteral("--type"), Type, QStringLiteral("--version"), QStringLiteral("43"),
                QStringLiteral("--from"), release, QStringLiteral("--mirror"), mirror,
                QStringLiteral("--previous"), previous, QStringLiteral("--gzip"), QStringLiteral("*.so")});
    QVERIFY(tool.waitForFinished(120000));
    QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
             tool.readAllStandardError().constData());
    const QString version = mirror + QStringLiteral("/43");
    const QString stored = version + u'/' + Type;
    QVERIFY(QFile::copy(version + u'/' + Type + QStringLiteral(".ini"), productIniPath()));

    // The installation of the previous release.
    const auto install = [this](const QString &from) {
        QVERIFY(QDir(installDir->path()).removeRecursively());
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            put(installDir->path(), QDir(from).relativeFilePath(path), DiskTree::readFile(path));
        }
    };
    install(previous);

    QStringList downloads;
    QStringList replaces;
    for (const QString &name : {QStringLiteral("docs/read me, first.txt"), QStringLiteral("hvxclient_linux_x86"),
                                QStringLiteral("locale/de=\u00fc;[1].qm"),
                                QStringLiteral("plugins/libhalvex.so.gz")}) {
        const QByteArray content = DiskTree::readFile(stored + u'/' + name);
        QVERIFY2(!content.isEmpty(), qPrintable(name));
        downloads << downloadLine(Type, name, md5(content), content.size());
        replaces << (name.endsWith(QStringLiteral(".gz"))
                             ? replaceLine(Type, name, md5(files.value(name.chopped(3))), 5000,
                                           name.chopped(3))
                             : replaceLine(Type, name));
    }
    const QString obsolete = QStringLiteral("delete plugins/obsolete/libgone.so");

    Outcome outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.lists, downloads + replaces + QStringList{obsolete});

    // An interrupted run left every download intact in the temporary directory.
    QDirIterator it(stored, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        put(tempDir->path(), QDir(stored).relativeFilePath(path), DiskTree::readFile(path));
    }
    outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.lists, replaces + QStringList{obsolete});

    // The new release is installed already.
    install(release);
    outcome = runTask();
    QCOMPARE(outcome.state, TaskSpecification::Finished);
    QCOMPARE(outcome.lists, QStringList());
}

QTEST_GUILESS_MAIN(tst_MakeDownloadReplaceListTaskSpecification)
#include "tst_makedownloadreplacelisttaskspecification.moc"
