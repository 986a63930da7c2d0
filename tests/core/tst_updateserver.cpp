#include "updateserverprocess.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString ImageUrl = QStringLiteral("http://www.halvex.example/banner.png");
const QString ClickUrl = QStringLiteral("http://www.halvex.example/news?id=1");

// The next datagram that reaches socket, or a null array after a second.
QByteArray nextDatagram(QUdpSocket &socket)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(1000))
        return QByteArray();
    return socket.receiveDatagram().data();
}

} // namespace

class tst_UpdateServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void replies_data();
    void replies();
    void bannerUnansweredWithoutImage();
    void exampleSettingsServe();
    void startFailures_data();
    void startFailures();

private:
    QTemporaryDir dir;
    QString settingsPath;
    UpdateServerProcess server;
};

void tst_UpdateServer::initTestCase()
{
    QVERIFY(dir.isValid());
    settingsPath = dir.filePath(QStringLiteral("server.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(
            settingsPath,
            {{QStringLiteral("1200#3.0.1"), QStringLiteral("1250#3.0.2-beta"),
              QStringLiteral("1300")},
             QStringLiteral("Grüße, Tester; bis bald"), ImageUrl, ClickUrl}));
    QVERIFY2(server.start(settingsPath), qPrintable(server.log()));
}

void tst_UpdateServer::replies_data()
{
    QTest::addColumn<bool>("bannerPort");
    QTest::addColumn<QByteArray>("request");
    // Null: the request is ignored.
    QTest::addColumn<QByteArray>("reply");

    const QByteArray ignored;
    QTest::newRow("version") << false << QByteArray("3\0", 2)
                             << QByteArray("1200#3.0.1,1250#3.0.2-beta,1300");
    QTest::newRow("news, Latin-1") << false << QByteArray("*\0", 2)
                                   << QByteArray("Gr\xfc\xdf" "e, Tester; bis bald");
    QTest::newRow("banner") << true << QByteArray("\x01\x01", 2)
                            << (ImageUrl + u',' + ClickUrl).toLatin1();
    QTest::newRow("version without zero byte") << false << QByteArray("3") << ignored;
    QTest::newRow("version with trailing byte") << false << QByteArray("3\0x", 3) << ignored;
    QTest::newRow("empty datagram") << false << QByteArray("") << ignored;
    QTest::newRow("banner request on query port") << false << QByteArray("\x01\x01", 2)
                                                  << ignored;
    QTest::newRow("version request on banner port") << true << QByteArray("3\0", 2) << ignored;
    QTest::newRow("banner request too long") << true << QByteArray("\x01\x01\x01", 3) << ignored;
}

void tst_UpdateServer::replies()
{
    QFETCH(bool, bannerPort);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    const quint16 port = bannerPort ? server.bannerPort() : server.queryPort();
    QCOMPARE(client.writeDatagram(request, QHostAddress::LocalHost, port), request.size());

    int sent = 1;
    if (reply.isNull()) {
        // Loopback keeps the order: had the request been answered, that
        // answer would arrive before the probe's.
        const QByteArray probe = bannerPort ? QByteArray("\x01\x01", 2) : QByteArray("*\0", 2);
        QCOMPARE(client.writeDatagram(probe, QHostAddress::LocalHost, port), probe.size());
        ++sent;
        reply = bannerPort ? (ImageUrl + u',' + ClickUrl).toLatin1()
                           : QByteArray("Gr\xfc\xdf" "e, Tester; bis bald");
    }
    QCOMPARE(nextDatagram(client), reply);
    QVERIFY(!client.hasPendingDatagrams());

    // One log line per datagram, naming its sender.
    const QString sender = QStringLiteral("127.0.0.1:%1 ").arg(client.localPort());
    QTRY_COMPARE(server.log().count(sender), sent);
}

void tst_UpdateServer::bannerUnansweredWithoutImage()
{
    const QString path = dir.filePath(QStringLiteral("nobanner.ini"));
    QVERIFY(UpdateServerProcess::writeSettings(path, {{QStringLiteral("1200")}, {}, {}, {}}));
    UpdateServerProcess plain;
    QVERIFY2(plain.start(path), qPrintable(plain.log()));

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    client.writeDatagram(QByteArray("\x01\x01", 2), QHostAddress::LocalHost, plain.bannerPort());
    QTRY_VERIFY(plain.log().contains(QLatin1String("not answered")));
    QVERIFY(!client.hasPendingDatagrams());

    // The other replies still go out; the news is empty.
    client.writeDatagram(QByteArray("*\0", 2), QHostAddress::LocalHost, plain.queryPort());
    QCOMPARE(nextDatagram(client), QByteArray(""));
}

// The settings file shipped for demos and deployers stays loadable.
void tst_UpdateServer::exampleSettingsServe()
{
    UpdateServerProcess example;
    QVERIFY2(example.start(QStringLiteral(HALVEX_TEST_SOURCE_DIR
                                          "/tools/update-server/example.ini")),
             qPrintable(example.log()));

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    client.writeDatagram(QByteArray("3\0", 2), QHostAddress::LocalHost, example.queryPort());
    QCOMPARE(nextDatagram(client), QByteArray("1200#3.0.1,1250#3.0.2-beta,1300"));
    client.writeDatagram(QByteArray("\x01\x01", 2), QHostAddress::LocalHost, example.bannerPort());
    QCOMPARE(nextDatagram(client),
             QByteArray("http://www.halvex.example/banner.png,http://www.halvex.example/"));
}

void tst_UpdateServer::startFailures_data()
{
    // In arguments, {settings} is a valid settings file, {taken} a port that
    // another socket holds and {bad} a file with an unquoted comma.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    const QString settings = QStringLiteral("{settings}");
    const QString taken = QStringLiteral("{taken}");
    const QString port = QStringLiteral("--port");
    const QString bannerPort = QStringLiteral("--banner-port");
    const QString zero = QStringLiteral("0");

    QTest::newRow("missing settings file")
            << QStringList{port, zero, bannerPort, zero, QStringLiteral("/nonexistent/server.ini")}
            << 1 << QStringLiteral("settings file '/nonexistent/server.ini' does not exist");
    QTest::newRow("no settings file") << QStringList{port, zero} << 1
                                      << QStringLiteral("give exactly one settings file");
    QTest::newRow("query port taken")
            << QStringList{port, taken, bannerPort, zero, settings} << 1
            << QStringLiteral("cannot listen for version and news requests on 127.0.0.1 port");
    QTest::newRow("banner port taken")
            << QStringList{port, zero, bannerPort, taken, settings} << 1
            << QStringLiteral("cannot listen for banner requests on 127.0.0.1 port");
    QTest::newRow("unquoted comma")
            << QStringList{port, zero, bannerPort, zero, QStringLiteral("{bad}")} << 1
            << QStringLiteral("news/text: put the value in double quotes");
    QTest::newRow("port out of range")
            << QStringList{port, QStringLiteral("70000"), settings} << 1
            << QStringLiteral("'70000' is not a port number");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                          << QStringLiteral("stable=1200#3.0.1");
}

void tst_UpdateServer::startFailures()
{
    QFETCH(QStringList, arguments);

    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    const QString bad = dir.filePath(QStringLiteral("bad.ini"));
    {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[news]\ntext=Hello, world\n");
    }
    arguments.replaceInStrings(QStringLiteral("{settings}"), settingsPath);
    arguments.replaceInStrings(QStringLiteral("{taken}"), QString::number(holder.localPort()));
    arguments.replaceInStrings(QStringLiteral("{bad}"), bad);

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(UpdateServerProcess::program(), arguments);
    QVERIFY(process.waitForFinished(10000));
    const QString printed = QString::fromLocal8Bit(process.readAll());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QTEST(process.exitCode(), "exitCode");
    QFETCH(QString, output);
    QVERIFY2(printed.contains(output), qPrintable(printed));
}

QTEST_GUILESS_MAIN(tst_UpdateServer)
#include "tst_updateserver.moc"
