#include "crypto/checksigfunc.h"
#include "crypto/checksignaturetaskspecification.h"
#include "crypto/cryptfunctions.h"
#include "demokey.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// Runs one check task to its end and returns what it reported, in order.
struct CheckRun
{
    QStringList log;
    TaskSpecification::State state = TaskSpecification::Idle;
};

CheckRun runCheck(const QString &path, const QString &md5, bool cancelOnFailure)
{
    CheckRun run;
    CheckSignatureTaskSpecification task(path, md5, cancelOnFailure, nullptr, 1.0);
    QObject::connect(&task, &TaskSpecification::message, &task,
                     [&run](const QString &text) { run.log << text; });
    QObject::connect(&task, &CheckSignatureTaskSpecification::checkDone, &task,
                     [&run, &task](bool pass, CheckSignatureTaskSpecification *sender) {
                         run.log << QStringLiteral("checkDone %1 %2")
                                            .arg(pass)
                                            .arg(sender == &task ? QStringLiteral("self") : QStringLiteral("other"));
                         // The verdict arrives before the state changes.
                         if (task.getState() != TaskSpecification::Running)
                             run.log << QStringLiteral("state changed too early");
                     });
    task.execute();
    if (!QTest::qWaitFor([&task] { return task.getState() != TaskSpecification::Running; },
                         10000))
        run.log << QStringLiteral("still running");
    run.state = task.getState();
    return run;
}

} // namespace

class tst_CheckSignatureTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdicts_data();
    void verdicts();
    void failureEndsAsAsked_data();
    void failureEndsAsAsked();
    void resetWhileRunningReportsNothing();
    void userCancelStillReports();
    void largeFileMatchesMd5sum();

private:
    QTemporaryDir dir;
};

void tst_CheckSignatureTaskSpecification::initTestCase()
{
    QVERIFY(dir.isValid());
    crypt_init();
}

void tst_CheckSignatureTaskSpecification::verdicts_data()
{
    QTest::addColumn<QByteArray>("content");
    // "sig" writes a valid signature, "sig127"/"sig129" one of a wrong length,
    // "nosig" none; for MD5 rows this column is ignored.
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QStringList>("expectedLog");

    const QByteArray data("product ini bytes\n");
    const QString sum = QString::fromLatin1(
            QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
    const QString emptySum = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
    const QStringList pass{QStringLiteral("checkDone 1 self")};
    const QStringList fail{QStringLiteral("Signature check failed for %F"),
                           QStringLiteral("checkDone 0 self")};

    QTest::newRow("md5 lower case") << data << QString() << sum << pass;
    QTest::newRow("md5 upper case") << data << QString() << sum.toUpper() << pass;
    QTest::newRow("md5 trailing blank") << data << QString() << sum + QLatin1Char(' ') << fail;
    QTest::newRow("md5 trailing newline") << data << QString() << sum + QLatin1Char('\n') << fail;
    QTest::newRow("md5 wrong") << data << QString() << emptySum << fail;
    QTest::newRow("md5 empty file") << QByteArray() << QString() << emptySum << pass;
    QTest::newRow("rsa valid") << data << QStringLiteral("sig") << QString() << pass;
    QTest::newRow("rsa empty file") << QByteArray() << QStringLiteral("sig") << QString() << pass;
    QTest::newRow("rsa changed file") << data + 'x' << QStringLiteral("sig") << QString() << fail;
    QTest::newRow("rsa 127 bytes") << data << QStringLiteral("sig127") << QString() << fail;
    QTest::newRow("rsa 129 bytes") << data << QStringLiteral("sig129") << QString() << fail;
    QTest::newRow("rsa no signature")
        << data << QStringLiteral("nosig") << QString()
        << QStringList{QStringLiteral("Could not open file %F.sig for reading")} + fail;
}

void tst_CheckSignatureTaskSpecification::verdicts()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, signature);
    QFETCH(QString, md5);
    QFETCH(QStringList, expectedLog);

    const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    if (signature.startsWith(QLatin1String("sig"))) {
        if (!DemoKey::isBuiltIn())
            QSKIP("the build uses a key other than the demo key");
        // Signed over the data without the changed byte.
        QByteArray sig = DemoKey::sign(content.endsWith('x') ? content.chopped(1) : content);
        if (signature == QLatin1String("sig127"))
            sig.chop(1);
        else if (signature == QLatin1String("sig129"))
            sig.append('\0');
        writeBytes(path + QStringLiteral(".sig"), sig);
    }
    writeBytes(path, content);

    const CheckRun run = runCheck(path, md5, false);
    QCOMPARE(run.log, expectedLog.replaceInStrings(QStringLiteral("%F"), path));
    QCOMPARE(run.state, TaskSpecification::Finished);
}

void tst_CheckSignatureTaskSpecification::failureEndsAsAsked_data()
{
    QTest::addColumn<bool>("cancelOnFailure");
    QTest::addColumn<int>("expectedState");
    QTest::newRow("finish") << false << int(TaskSpecification::Finished);
    QTest::newRow("error-cancel") << true << int(TaskSpecification::ErrorCanceled);
}

void tst_CheckSignatureTaskSpecification::failureEndsAsAsked()
{
    QFETCH(bool, cancelOnFailure);
    QFETCH(int, expectedState);

    const QString missing = dir.filePath(QStringLiteral("missing"));
    const CheckRun run = runCheck(missing, QStringLiteral("00"), cancelOnFailure);
    QCOMPARE(run.log,
             QStringList({QStringLiteral("Could not open file %1 for reading").arg(missing),
                          QStringLiteral("Signature check failed for %1").arg(missing),
                          QStringLiteral("checkDone 0 self")}));
    QCOMPARE(int(run.state), expectedState);
}

void tst_CheckSignatureTaskSpecification::resetWhileRunningReportsNothing()
{
    const QString path = dir.filePath(QStringLiteral("reset"));
    writeBytes(path, QByteArray("abc"));
    CheckSignatureTaskSpecification task(path, QStringLiteral("00"), false, nullptr, 1.0);
    QSignalSpy done(&task, &CheckSignatureTaskSpecification::checkDone);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    task.reset();
    QTest::qWait(50);
    QCOMPARE(done.size(), 0);
    QCOMPARE(messages.size(), 0);
    QCOMPARE(task.getState(), TaskSpecification::Idle);
}

void tst_CheckSignatureTaskSpecification::userCancelStillReports()
{
    const QString path = dir.filePath(QStringLiteral("cancel"));
    writeBytes(path, QByteArray("abc"));
    CheckSignatureTaskSpecification task(
            path, QString::fromLatin1(QCryptographicHash::hash("abc", QCryptographicHash::Md5).toHex()),
            false, nullptr, 1.0);
    QSignalSpy done(&task, &CheckSignatureTaskSpecification::checkDone);
    task.execute();
    task.userCanceled();
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.first().at(0).toBool(), true);
    QCOMPARE(task.getState(), TaskSpecification::Finished);
}

void tst_CheckSignatureTaskSpecification::largeFileMatchesMd5sum()
{
    // Larger than the hashing buffer and not a multiple of it.
    const QString path = dir.filePath(QStringLiteral("large"));
    QByteArray data(3 * 1024 * 1024 + 12345, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    writeBytes(path, data);

    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), {path});
    QVERIFY(md5sum.waitForFinished());
    const QString expected = QString::fromLatin1(md5sum.readAllStandardOutput().left(32));
    QCOMPARE(expected.size(), 32);

    CheckSigFunc right(path, expected);
    QVERIFY(right.run());
    CheckSigFunc wrong(path, QStringLiteral("0123456789abcdef0123456789abcdef"));
    QVERIFY(!wrong.run());
}

QTEST_GUILESS_MAIN(tst_CheckSignatureTaskSpecification)
#include "tst_checksignaturetaskspecification.moc"
