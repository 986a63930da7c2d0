#include "core/updatechecker.h"
#include "updateserverprocess.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

using VersionList = QList<QPair<QString, QString>>;

class tst_UpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void parsesReplies_data();
    void parsesReplies();
    void retryStartsAfresh();
    void silentServerTimesOut();

private:
    QTemporaryDir dir;
};

void tst_UpdateChecker::parsesReplies_data()
{
    QTest::addColumn<QStringList>("serverVersions");
    QTest::addColumn<QString>("serverNews");
    QTest::addColumn<VersionList>("expectedVersions");

    const QPair<QString, QString> none;
    QTest::newRow("three channels")
            << QStringList{QStringLiteral("1200#3.0.1"), QStringLiteral("1250#3.0.2-beta"),
                           QStringLiteral("1300")}
            << QStringLiteral("Hello")
            << VersionList{{QStringLiteral("1200"), QStringLiteral("3.0.1")},
                           {QStringLiteral("1250"), QStringLiteral("3.0.2-beta")},
                           {QStringLiteral("1300"), QString()}};
    QTest::newRow("no comma: stable only")
            << QStringList{QStringLiteral("1200#3.0.1")} << QStringLiteral("Hello")
            << VersionList{{QStringLiteral("1200"), QStringLiteral("3.0.1")}};
    QTest::newRow("empty entry kept")
            << QStringList{QStringLiteral("1200"), QString(), QStringLiteral("1300")}
            << QStringLiteral("Hello")
            << VersionList{{QStringLiteral("1200"), QString()}, none,
                           {QStringLiteral("1300"), QString()}};
    QTest::newRow("label keeps later #")
            << QStringList{QStringLiteral("1200#3.0#rc1")} << QStringLiteral("Hello")
            << VersionList{{QStringLiteral("1200"), QStringLiteral("3.0#rc1")}};
    QTest::newRow("empty news") << QStringList{QStringLiteral("1200")} << QString()
                                << VersionList{{QStringLiteral("1200"), QString()}};
    // Each byte of the reply is one Latin-1 character.
    QTest::newRow("latin-1 news with comma")
            << QStringList{QStringLiteral("1200")} << QStringLiteral("Grüße, Tester; bis bald")
            << VersionList{{QStringLiteral("1200"), QString()}};
    QTest::newRow("empty list") << QStringList() << QStringLiteral("Hello")
                                << VersionList{none};
}

void tst_UpdateChecker::parsesReplies()
{
    QFETCH(QStringList, serverVersions);
    QFETCH(QString, serverNews);
    QFETCH(VersionList, expectedVersions);

    const QString settings = dir.filePath(QStringLiteral("server.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(settings, {serverVersions, serverNews, {}, {}}));
    UpdateServerProcess server;
    QVERIFY2(server.start(settings), qPrintable(server.log()));

    UpdateChecker checker(QStringLiteral("127.0.0.1"), server.queryPort());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.versions, expectedVersions);
    QCOMPARE(checker.news, serverNews);
    for (UpdateChannel channel : {Stable, Beta, Alpha}) {
        const auto expected = int(channel) < expectedVersions.size() ? expectedVersions.at(channel)
                                                                : QPair<QString, QString>();
        QCOMPARE(checker.getClientVersionByChannel(channel), expected);
    }
}

void tst_UpdateChecker::retryStartsAfresh()
{
    const QString settings = dir.filePath(QStringLiteral("server.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(
            settings, {{QStringLiteral("1200"), QStringLiteral("1250")}, {}, {}, {}}));
    UpdateServerProcess server;
    QVERIFY2(server.start(settings), qPrintable(server.log()));

    UpdateChecker checker(QStringLiteral("127.0.0.1"), server.queryPort());
    QVERIFY(checker.checkUpdate());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.versions.size(), 2);
}

void tst_UpdateChecker::silentServerTimesOut()
{
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost, 0));

    UpdateChecker checker(QStringLiteral("127.0.0.1"), silent.localPort());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!checker.checkUpdate());
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 4900 && elapsed < 8000, qPrintable(QString::number(elapsed)));

    // Exactly one version request went out, and nothing after it.
    QVERIFY(silent.hasPendingDatagrams());
    QCOMPARE(silent.receiveDatagram().data(), QByteArray("3\0", 2));
    QVERIFY(!silent.hasPendingDatagrams());
}

QTEST_GUILESS_MAIN(tst_UpdateChecker)
#include "tst_updatechecker.moc"
