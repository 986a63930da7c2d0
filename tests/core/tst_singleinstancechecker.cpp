#include "core/singleinstancechecker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>

namespace {

// CRC-16 of ISO 3309 (X.25), bit by bit, as the guard's name is defined.
quint16 crc16Iso3309(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return quint16(~crc);
}

// A second process of this very executable that holds the guard until it
// is killed: same executable, same user, so the same name.
const char HoldOption[] = "--hold-guard";

} // namespace

class tst_SingleInstanceChecker : public QObject
{
    Q_OBJECT

private slots:
    void localServerName_data();
    void localServerName();
    void handOver_data();
    void handOver();
    void nobodyListening();
    void staleNameOfKilledProcess();
    void newestConnectionWins();
    void destructionReleasesName();
};

void tst_SingleInstanceChecker::localServerName_data()
{
    QTest::addColumn<QString>("home");

    QTest::newRow("one user") << "/home/anna";
    QTest::newRow("another user") << "/home/Bob";
    QTest::newRow("colons in the path") << "/srv/a:b/c";
}

void tst_SingleInstanceChecker::localServerName()
{
    QFETCH(QString, home);

    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    const QString name = SingleInstanceChecker::getLocalServerName();
    qputenv("HOME", savedHome);

    QString key = QCoreApplication::applicationFilePath().toLower() + home;
    key.remove(u'/').remove(u':');
    QCOMPARE(name, QStringLiteral("HVXClientUpdate") + QString::number(crc16Iso3309(key.toUtf8()), 16));
    // Another user of the same installation gets a name of their own.
    QVERIFY(name != SingleInstanceChecker::getLocalServerName());
}

void tst_SingleInstanceChecker::handOver_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("received");

    QTest::newRow("come to the front") << "#" << "#";
    QTest::newRow("another message") << "hello" << "hello";
    QTest::newRow("latin-1") << QString::fromLatin1("gr\xfc\xdf") << QString::fromLatin1("gr\xfc\xdf");
    QTest::newRow("zero byte ends it") << QString::fromLatin1("ab\0cd", 5) << "ab";
}

void tst_SingleInstanceChecker::handOver()
{
    QFETCH(QString, message);

    SingleInstanceChecker checker(nullptr);
    QVERIFY(checker.isListening());
    QSignalSpy spy(&checker, &SingleInstanceChecker::otherInstanceActivate);

    QVERIFY(SingleInstanceChecker::checkExistingInstance(message));

    QTRY_COMPARE(spy.size(), 1);
    QTEST(spy.at(0).at(0).toString(), "received");
}

void tst_SingleInstanceChecker::nobodyListening()
{
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QVERIFY(clock.elapsed() < 500);
}

void tst_SingleInstanceChecker::staleNameOfKilledProcess()
{
    const QString socketPath = QDir::tempPath() + u'/' + SingleInstanceChecker::getLocalServerName();
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(HoldOption)});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("listening"));

    // Two real processes: the running one takes the hand-over.
    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));

    // Killed, it leaves its name behind.
    holder.kill();
    QVERIFY(holder.waitForFinished());
    QVERIFY(QFile::exists(socketPath));

    // The next start finds nobody there, clears the name and listens.
    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QVERIFY(!QFile::exists(socketPath));
    SingleInstanceChecker checker(nullptr);
    QVERIFY(checker.isListening());
    QSignalSpy spy(&checker, &SingleInstanceChecker::otherInstanceActivate);
    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QTRY_COMPARE(spy.size(), 1);
}

void tst_SingleInstanceChecker::newestConnectionWins()
{
    SingleInstanceChecker checker(nullptr);
    QSignalSpy spy(&checker, &SingleInstanceChecker::otherInstanceActivate);

    // Both arrive before the listener's event loop runs: the first is
    // dropped unread when the second comes in.
    QLocalSocket first;
    first.connectToServer(SingleInstanceChecker::getLocalServerName());
    QVERIFY(first.waitForConnected(1000));
    first.write("first");
    QVERIFY(first.waitForBytesWritten(1000));
    QLocalSocket second;
    second.connectToServer(SingleInstanceChecker::getLocalServerName());
    QVERIFY(second.waitForConnected(1000));
    second.write("second");
    QVERIFY(second.waitForBytesWritten(1000));

    QTRY_COMPARE(spy.size(), 1);
    QTest::qWait(200);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("second"));
}

void tst_SingleInstanceChecker::destructionReleasesName()
{
    {
        SingleInstanceChecker checker(nullptr);
        QVERIFY(checker.isListening());
    }
    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    SingleInstanceChecker again(nullptr);
    QVERIFY(again.isListening());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], HoldOption) == 0) {
        SingleInstanceChecker checker(nullptr);
        std::printf("%s\n", checker.isListening() ? "listening" : "deaf");
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    tst_SingleInstanceChecker test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstancechecker.moc"
