#include "core/configuration.h"
#include "core/updateinidata.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class tst_UpdateIniData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void get_data();
    void get();
    void modifyWithoutFile();
    void modifyReplacesRecordOnly();
    void cleanupKeepsOtherGroups();

private:
    QString iniPath() const { return QDir(appRoot->path()).filePath(QStringLiteral("update.ini")); }
    QString readIni() const;
    void writeIni(const QString &text);

    std::unique_ptr<QTemporaryDir> appRoot;
};

void tst_UpdateIniData::init()
{
    appRoot = std::make_unique<QTemporaryDir>();
    QVERIFY(appRoot->isValid());
    Configuration::setAppRootPath(appRoot->path());
}

void tst_UpdateIniData::cleanup()
{
    Configuration::setAppRootPath(QString());
    appRoot.reset();
}

QString tst_UpdateIniData::readIni() const
{
    QFile file(iniPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void tst_UpdateIniData::writeIni(const QString &text)
{
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(text.toUtf8()) >= 0);
}

void tst_UpdateIniData::get_data()
{
    // In record and dir, %1 stands for an existing directory, %2 for an
    // existing file and %3 for a path that is gone.
    QTest::addColumn<QString>("record");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("dir");

    QTest::newRow("no update.ini") << QString() << false << 0 << QString() << QString();
    QTest::newRow("valid") << QStringLiteral("version=4711\ndir=%1\ntype=client_linux_x86")
                           << true << 4711 << QStringLiteral("client_linux_x86")
                           << QStringLiteral("%1");
    QTest::newRow("dir is a file") << QStringLiteral("version=12\ndir=%2\ntype=t") << true << 12
                                   << QStringLiteral("t") << QStringLiteral("%2");
    QTest::newRow("version not a number")
            << QStringLiteral("version=12a\ndir=%1\ntype=t") << false << 0 << QString()
            << QString();
    QTest::newRow("version missing") << QStringLiteral("dir=%1\ntype=t") << false << 0
                                     << QString() << QString();
    QTest::newRow("type empty") << QStringLiteral("version=12\ndir=%1\ntype=") << false << 0
                                << QString() << QString();
    QTest::newRow("dir missing") << QStringLiteral("version=12\ntype=t") << false << 0
                                 << QString() << QString();
    QTest::newRow("dir deleted") << QStringLiteral("version=12\ndir=%3\ntype=t") << false << 0
                                 << QString() << QString();
}

void tst_UpdateIniData::get()
{
    QFETCH(QString, record);
    QFETCH(bool, valid);
    QFETCH(QString, dir);

    const QDir root(appRoot->path());
    QVERIFY(root.mkdir(QStringLiteral("session")));
    QFile file(root.filePath(QStringLiteral("session.file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    auto placePaths = [&](QString text) {
        return text.replace(QLatin1String("%1"), root.filePath(QStringLiteral("session")))
                .replace(QLatin1String("%2"), file.fileName())
                .replace(QLatin1String("%3"), root.filePath(QStringLiteral("gone")));
    };
    if (!record.isNull())
        writeIni(QStringLiteral("[Channel]\nbeta=true\n[current]\n") + placePaths(record) + u'\n');

    // The outputs are touched only for a valid record.
    int storedVersion = -1;
    QString storedType = QStringLiteral("untouched");
    QString storedDir = QStringLiteral("untouched");
    QCOMPARE(UpdateIniData::get(&storedVersion, &storedType, &storedDir), valid);
    if (valid) {
        QTEST(storedVersion, "version");
        QTEST(storedType, "type");
        QCOMPARE(storedDir, placePaths(dir));
        // Null outputs are skipped.
        QVERIFY(UpdateIniData::get(nullptr, nullptr, nullptr));
    } else {
        QCOMPARE(storedVersion, -1);
        QCOMPARE(storedType, QStringLiteral("untouched"));
        QCOMPARE(storedDir, QStringLiteral("untouched"));
    }
}

void tst_UpdateIniData::modifyWithoutFile()
{
    UpdateIniData::modify(1300, appRoot->path(), QStringLiteral("client_linux_amd64"));

    QSettings settings(iniPath(), QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), QStringList{QStringLiteral("current")});
    int version = 0;
    QString type;
    QString dir;
    QVERIFY(UpdateIniData::get(&version, &type, &dir));
    QCOMPARE(version, 1300);
    QCOMPARE(type, QStringLiteral("client_linux_amd64"));
    QCOMPARE(dir, appRoot->path());
}

void tst_UpdateIniData::modifyReplacesRecordOnly()
{
    writeIni(QStringLiteral("[Channel]\nbeta=true\n[current]\nversion=1\ndir=/old\ntype=old\n"
                            "[update]\nstreams=3\n"));

    UpdateIniData::modify(2, appRoot->path(), QStringLiteral("new"));

    QSettings settings(iniPath(), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("current/version")).toInt(), 2);
    QCOMPARE(settings.value(QStringLiteral("current/dir")).toString(), appRoot->path());
    QCOMPARE(settings.value(QStringLiteral("current/type")).toString(), QStringLiteral("new"));
    QCOMPARE(settings.value(QStringLiteral("Channel/beta")).toBool(), true);
    QCOMPARE(settings.value(QStringLiteral("update/streams")).toInt(), 3);
}

void tst_UpdateIniData::cleanupKeepsOtherGroups()
{
    writeIni(QStringLiteral("[Channel]\nbeta=true\n[current]\nversion=1\ndir=%1\ntype=t\n"
                            "[update]\nstreams=3\n")
                     .arg(appRoot->path()));
    QVERIFY(UpdateIniData::get(nullptr, nullptr, nullptr));

    UpdateIniData::cleanup();

    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));
    QSettings settings(iniPath(), QSettings::IniFormat);
    QCOMPARE(settings.childGroups(),
             (QStringList{QStringLiteral("Channel"), QStringLiteral("update")}));
    QCOMPARE(settings.value(QStringLiteral("update/streams")).toInt(), 3);
    QVERIFY(!readIni().contains(QLatin1String("current")));
}

QTEST_GUILESS_MAIN(tst_UpdateIniData)
#include "tst_updateinidata.moc"
