#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "core/randomsource.h"
#include "download/mirrors.h"

namespace {

constexpr int version = 1234;

// Two web mirrors (three slots each) and one without a recognised scheme (one slot).
const QByteArray threeMirrors = "[mirrors]\n"
                                "size=3\n"
                                "1\\mirror=alpha\n"
                                "2\\mirror=beta\n"
                                "3\\mirror=gamma\n"
                                "[alpha]\nurl=HTTP://a.example/files\n"
                                "[beta]\nurl=http://b.example/files/\nretries=5\n"
                                "[gamma]\nurl=ftp://c.example/files\n";

// Answers every lookup with the source text in brackets and remembers what
// was asked for, so that a test sees which texts are translated and in which context.
class RecordingTranslator final : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *,
                      int) const override
    {
        asked.append(QString::fromLatin1(context) + QLatin1Char('|') + QString::fromUtf8(sourceText));
        return QLatin1Char('[') + QString::fromUtf8(sourceText) + QLatin1Char(']');
    }
    bool isEmpty() const override { return false; }

    mutable QStringList asked;
};

QStringList messagesOf(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &arguments : spy)
        texts.append(arguments.at(0).toString());
    return texts;
}

} // namespace

class tst_Mirrors : public QObject
{
    Q_OBJECT

private:
    // Each file gets a path of its own: the settings reader caches files by
    // path and may not notice a rewrite of the same size within a moment.
    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(QString::number(++fileCount) + QLatin1Char('/') + name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Takes every slot of the pool.
    static void occupyAll(Mirrors &pool)
    {
        FTPSiteAccessData out;
        while (pool.getRandomMirror(out) == 0) {
        }
    }

    QTemporaryDir dir;
    int fileCount = 0;

private slots:
    void initDefault_data();
    void initDefault();
    void initAlpha_data();
    void initAlpha();
    void slotArithmetic();
    void weightedChoice_data();
    void weightedChoice();
    void errorBudget_data();
    void errorBudget();
    void emptyPoolReportedOnce_data();
    void emptyPoolReportedOnce();
    void unknownNamesIgnored();
    void namesAreExactAndFirstWins();
    void textsTranslatedInContextMirrors();
};

void tst_Mirrors::initDefault_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QList<int>>("retries");
    QTest::addColumn<QList<int>>("maxUseCounts");

    QTest::newRow("schemes in any case, trailing slash, no scheme")
        << threeMirrors << QStringList{u"alpha"_qs, u"beta"_qs, u"gamma"_qs}
        << QStringList{u"HTTP://a.example/files/1234"_qs, u"http://b.example/files/1234"_qs,
                       u"ftp://c.example/files/1234"_qs}
        << QList<int>{2, 5, 2} << QList<int>{3, 3, 1};
    QTest::newRow("https in mixed case, look-alike schemes")
        << QByteArray("[mirrors]\nsize=4\n1\\mirror=s\n2\\mirror=x\n3\\mirror=y\n4\\mirror=z\n"
                      "[s]\nurl=hTTpS://s.example\n[x]\nurl=httpx://x.example\n"
                      "[y]\nurl=http:/y.example\n[z]\nurl=https:z.example\n")
        << QStringList{u"s"_qs, u"x"_qs, u"y"_qs, u"z"_qs}
        << QStringList{u"hTTpS://s.example/1234"_qs, u"httpx://x.example/1234"_qs,
                       u"http:/y.example/1234"_qs, u"https:z.example/1234"_qs}
        << QList<int>{2, 2, 2, 2} << QList<int>{3, 1, 1, 1};
    QTest::newRow("retries below 1 or not a number count as 2")
        << QByteArray("[mirrors]\nsize=5\n1\\mirror=a\n2\\mirror=b\n3\\mirror=c\n4\\mirror=d\n5\\mirror=e\n"
                      "[a]\nurl=http://a\nretries=0\n[b]\nurl=http://b\nretries=-3\n"
                      "[c]\nurl=http://c\nretries=many\n[d]\nurl=http://d\nretries=1\n"
                      "[e]\nurl=http://e\nretries=4294967293\n")
        << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs}
        << QStringList{u"http://a/1234"_qs, u"http://b/1234"_qs, u"http://c/1234"_qs,
                       u"http://d/1234"_qs, u"http://e/1234"_qs}
        << QList<int>{2, 2, 2, 1, 2} << QList<int>{3, 3, 3, 3, 3};
    QTest::newRow("listed mirror without its group")
        << QByteArray("[mirrors]\nsize=1\n1\\mirror=lost\n") << QStringList{u"lost"_qs}
        << QStringList{u"/1234"_qs} << QList<int>{2} << QList<int>{1};
    QTest::newRow("size 0") << QByteArray("[mirrors]\nsize=0\n[a]\nurl=http://a\n") << QStringList()
                            << QStringList() << QList<int>() << QList<int>();
    QTest::newRow("no mirrors group") << QByteArray("[a]\nurl=http://a\n") << QStringList()
                                      << QStringList() << QList<int>() << QList<int>();
}

void tst_Mirrors::initDefault()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, names);
    QFETCH(QStringList, urls);
    QFETCH(QList<int>, retries);
    QFETCH(QList<int>, maxUseCounts);

    Mirrors pool(nullptr);
    QSignalSpy fatal(&pool, &Mirrors::fatalError);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, ini), version));
    QCOMPARE(fatal.count(), 0);

    QStringList actualNames;
    QStringList actualUrls;
    QList<int> actualRetries;
    QList<int> actualMaxUseCounts;
    for (const FTPSiteAccessData &mirror : pool.getMirrors()) {
        actualNames.append(mirror.name);
        actualUrls.append(mirror.url);
        actualRetries.append(mirror.retries);
        actualMaxUseCounts.append(mirror.maxUseCount);
        QCOMPARE(mirror.timeoutTicks, 15);
        QCOMPARE(mirror.errorCount, 0);
        QCOMPARE(mirror.useCount, 0);
    }
    QCOMPARE(actualNames, names);
    QCOMPARE(actualUrls, urls);
    QCOMPARE(actualRetries, retries);
    QCOMPARE(actualMaxUseCounts, maxUseCounts);

    // An empty list is no error until a download asks for a mirror.
    FTPSiteAccessData out;
    QCOMPARE(pool.getRandomMirror(out), names.isEmpty() ? 1 : 0);
}

void tst_Mirrors::initAlpha_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QString>("url");

    QTest::newRow("address without slash")
        << QByteArray("[Channel]\nalpha=http://alpha.example/builds\n")
        << u"http://alpha.example/builds/1234"_qs;
    QTest::newRow("address with slash")
        << QByteArray("[Channel]\nalpha=http://alpha.example/builds/\nbeta=true\n")
        << u"http://alpha.example/builds/1234"_qs;
    QTest::newRow("empty alpha") << QByteArray("[Channel]\nalpha=\nbeta=true\n") << QString();
    QTest::newRow("no Channel group") << QByteArray("[update]\nstreams=3\n") << QString();
}

void tst_Mirrors::initAlpha()
{
    QFETCH(QByteArray, updateIni);
    QFETCH(QString, url);

    // A pool that already holds a mirror shows that a failure leaves it as it was.
    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, "[mirrors]\nsize=1\n1\\mirror=m\n[m]\nurl=http://m\n"),
                             version));
    QSignalSpy fatal(&pool, &Mirrors::fatalError);

    const bool ok = pool.initAlpha(writeFile(u"update.ini"_qs, updateIni), version);
    QCOMPARE(ok, !url.isEmpty());
    if (url.isEmpty()) {
        QCOMPARE(fatal.count(), 1);
        QCOMPARE(fatal.at(0).at(0).toString(),
                 u"Alpha parameter in channel section in update ini file not found"_qs);
        QCOMPARE(pool.getMirrors().size(), 1);
        return;
    }
    QCOMPARE(fatal.count(), 0);
    QCOMPARE(pool.getMirrors().size(), 2);
    const FTPSiteAccessData &alpha = pool.getMirrors().at(1);
    QCOMPARE(alpha.name, u"Alpha Channel"_qs);
    QCOMPARE(alpha.url, url);
    QCOMPARE(alpha.retries, 4);
    QCOMPARE(alpha.maxUseCount, 1);
    QCOMPARE(alpha.timeoutTicks, 15);
}

void tst_Mirrors::slotArithmetic()
{
    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, threeMirrors), version));
    RandomSource::seed(7);

    int maxTotal = -1;
    int useTotal = -1;
    pool.calcUseStats(maxTotal, useTotal);
    QCOMPARE(maxTotal, 7);
    QCOMPARE(useTotal, 0);

    for (int i = 1; i <= 7; ++i) {
        FTPSiteAccessData out;
        QCOMPARE(pool.getRandomMirror(out), 0);
        // The copy carries the count that includes this download.
        const FTPSiteAccessData &inPool = pool.getMirrors().at(pool.getMirrorIndex(out.name));
        QCOMPARE(out.useCount, inPool.useCount);
        QVERIFY(out.useCount <= out.maxUseCount);
        pool.calcUseStats(maxTotal, useTotal);
        QCOMPARE(useTotal, i);
    }
    QCOMPARE(pool.getMirrors().at(0).useCount, 3);
    QCOMPARE(pool.getMirrors().at(1).useCount, 3);
    QCOMPARE(pool.getMirrors().at(2).useCount, 1);

    // The eighth download finds every slot taken and nothing changes.
    FTPSiteAccessData untouched;
    untouched.name = u"untouched"_qs;
    QCOMPARE(pool.getRandomMirror(untouched), 2);
    QCOMPARE(untouched.name, u"untouched"_qs);
    pool.calcUseStats(maxTotal, useTotal);
    QCOMPARE(useTotal, 7);

    // A released slot is the only free one, so it is the one handed out.
    pool.releaseMirror(u"gamma"_qs);
    FTPSiteAccessData out;
    QCOMPARE(pool.getRandomMirror(out), 0);
    QCOMPARE(out.name, u"gamma"_qs);
    QCOMPARE(out.url, u"ftp://c.example/files/1234"_qs);
}

void tst_Mirrors::weightedChoice_data()
{
    QTest::addColumn<QStringList>("released");
    QTest::addColumn<QList<int>>("freeSlots");

    QTest::newRow("all free") << QStringList{u"alpha"_qs, u"alpha"_qs, u"alpha"_qs, u"beta"_qs,
                                             u"beta"_qs, u"beta"_qs, u"gamma"_qs}
                              << QList<int>{3, 3, 1};
    QTest::newRow("partly used") << QStringList{u"alpha"_qs, u"beta"_qs, u"beta"_qs, u"gamma"_qs}
                                 << QList<int>{1, 2, 1};
    QTest::newRow("one mirror full") << QStringList{u"beta"_qs, u"beta"_qs, u"gamma"_qs}
                                     << QList<int>{0, 2, 1};
}

void tst_Mirrors::weightedChoice()
{
    QFETCH(QStringList, released);
    QFETCH(QList<int>, freeSlots);

    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, threeMirrors), version));
    occupyAll(pool);
    for (const QString &name : released)
        pool.releaseMirror(name);

    RandomSource::seed(20240611);
    const int draws = 6000;
    const int totalFree = freeSlots[0] + freeSlots[1] + freeSlots[2];
    QList<int> counts{0, 0, 0};
    for (int i = 0; i < draws; ++i) {
        FTPSiteAccessData out;
        QCOMPARE(pool.getRandomMirror(out), 0);
        ++counts[pool.getMirrorIndex(out.name)];
        pool.releaseMirror(out.name);
    }
    // Every free slot is equally likely: each mirror's share follows its free slots.
    for (int i = 0; i < 3; ++i) {
        const double expected = double(draws) * freeSlots[i] / totalFree;
        QVERIFY2(qAbs(counts[i] - expected) < draws * 0.03,
                 qPrintable(u"mirror %1 drawn %2 times, expected about %3"_qs.arg(i).arg(counts[i]).arg(expected)));
    }
}

void tst_Mirrors::errorBudget_data()
{
    QTest::addColumn<QByteArray>("retriesLine");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<int>("removingError");

    QTest::newRow("default") << QByteArray() << false << 3;
    QTest::newRow("retries 0") << QByteArray("retries=0\n") << false << 3;
    QTest::newRow("retries -3") << QByteArray("retries=-3\n") << false << 3;
    QTest::newRow("retries 1") << QByteArray("retries=1\n") << false << 2;
    QTest::newRow("retries 4") << QByteArray("retries=4\n") << false << 5;
    QTest::newRow("alpha mirror") << QByteArray() << true << 5;
}

void tst_Mirrors::errorBudget()
{
    QFETCH(QByteArray, retriesLine);
    QFETCH(bool, alpha);
    QFETCH(int, removingError);

    Mirrors pool(nullptr);
    if (alpha) {
        QVERIFY(pool.initAlpha(writeFile(u"update.ini"_qs, "[Channel]\nalpha=http://alpha\n"), version));
    } else {
        QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs,
                                           "[mirrors]\nsize=2\n1\\mirror=m\n2\\mirror=other\n"
                                           "[m]\nurl=http://m\n" + retriesLine + "[other]\nurl=http://o\n"),
                                 version));
    }
    const QString name = alpha ? u"Alpha Channel"_qs : u"m"_qs;
    QSignalSpy messages(&pool, &Mirrors::message);

    for (int error = 1; error < removingError; ++error) {
        pool.addMirrorError(name);
        const int index = pool.getMirrorIndex(name);
        QVERIFY(index >= 0);
        QCOMPARE(pool.getMirrors().at(index).errorCount, error);
    }
    QCOMPARE(messages.count(), 0);

    pool.addMirrorError(name);
    QCOMPARE(pool.getMirrorIndex(name), -1);
    QCOMPARE(messagesOf(messages), QStringList{u"Mirror %1 failed too many times, removing"_qs.arg(name)});
    // The other mirror is not touched.
    QCOMPARE(pool.getMirrors().size(), alpha ? 0 : 1);
}

void tst_Mirrors::emptyPoolReportedOnce_data()
{
    QTest::addColumn<bool>("emptyFromStart");
    QTest::newRow("last mirror removed") << false;
    QTest::newRow("empty list") << true;
}

void tst_Mirrors::emptyPoolReportedOnce()
{
    QFETCH(bool, emptyFromStart);

    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs,
                                       emptyFromStart ? QByteArray("[mirrors]\nsize=0\n")
                                                      : QByteArray("[mirrors]\nsize=1\n1\\mirror=m\n[m]\nurl=http://m\n")),
                             version));
    QSignalSpy messages(&pool, &Mirrors::message);
    FTPSiteAccessData out;
    if (!emptyFromStart) {
        QCOMPARE(pool.getRandomMirror(out), 0);
        pool.removeMirror(u"m"_qs);
        QCOMPARE(messages.count(), 0);
    }

    QCOMPARE(pool.getRandomMirror(out), 1);
    QCOMPARE(pool.getRandomMirror(out), 1);
    QCOMPARE(pool.getRandomMirror(out), 1);
    QCOMPARE(messagesOf(messages), QStringList{u"There are no (more) known working mirrors available"_qs});
}

void tst_Mirrors::unknownNamesIgnored()
{
    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, threeMirrors), version));
    occupyAll(pool);
    pool.addMirrorError(u"beta"_qs);
    pool.removeMirror(u"alpha"_qs);
    QSignalSpy messages(&pool, &Mirrors::message);

    // Late news from downloads that held the removed mirror.
    for (int i = 0; i < 6; ++i) {
        pool.releaseMirror(u"alpha"_qs);
        pool.addMirrorError(u"alpha"_qs);
        pool.removeMirror(u"alpha"_qs);
    }
    pool.releaseMirror(u"nobody"_qs);

    QCOMPARE(messages.count(), 0);
    QCOMPARE(pool.getMirrors().size(), 2);
    QCOMPARE(pool.getMirrors().at(0).name, u"beta"_qs);
    QCOMPARE(pool.getMirrors().at(0).useCount, 3);
    QCOMPARE(pool.getMirrors().at(0).errorCount, 1);
    QCOMPARE(pool.getMirrors().at(1).useCount, 1);
    QCOMPARE(pool.getMirrors().at(1).errorCount, 0);
    int maxTotal = 0;
    int useTotal = 0;
    pool.calcUseStats(maxTotal, useTotal);
    QCOMPARE(maxTotal, 4);
    QCOMPARE(useTotal, 4);
}

void tst_Mirrors::namesAreExactAndFirstWins()
{
    Mirrors pool(nullptr);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs,
                                       "[mirrors]\nsize=3\n1\\mirror=Main\n2\\mirror=spare\n3\\mirror=Main\n"
                                       "[Main]\nurl=http://main\n[spare]\nurl=http://spare\n"),
                             version));
    QCOMPARE(pool.getMirrorIndex(u"Main"_qs), 0);
    QCOMPARE(pool.getMirrorIndex(u"spare"_qs), 1);
    QCOMPARE(pool.getMirrorIndex(u"main"_qs), -1);
    QCOMPARE(pool.getMirrorIndex(u"MAIN"_qs), -1);

    // Both entries of a doubled name read the same group; operations hit the first.
    pool.removeMirror(u"Main"_qs);
    QCOMPARE(pool.getMirrors().size(), 2);
    QCOMPARE(pool.getMirrors().at(1).name, u"Main"_qs);
    QCOMPARE(pool.getMirrors().at(1).url, u"http://main/1234"_qs);
    QCOMPARE(pool.getMirrorIndex(u"Main"_qs), 1);
}

void tst_Mirrors::textsTranslatedInContextMirrors()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));

    Mirrors pool(nullptr);
    QSignalSpy messages(&pool, &Mirrors::message);
    QSignalSpy fatal(&pool, &Mirrors::fatalError);
    QVERIFY(pool.initDefault(writeFile(u"mirrors.ini"_qs, "[mirrors]\nsize=1\n1\\mirror=m\n[m]\nurl=http://m\n"),
                             version));
    pool.addMirrorError(u"m"_qs);
    pool.addMirrorError(u"m"_qs);
    pool.addMirrorError(u"m"_qs);
    FTPSiteAccessData out;
    QCOMPARE(pool.getRandomMirror(out), 1);
    QVERIFY(!pool.initAlpha(writeFile(u"update.ini"_qs, "[Channel]\n"), version));
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(messagesOf(messages),
             (QStringList{u"[Mirror m failed too many times, removing]"_qs,
                          u"[There are no (more) known working mirrors available]"_qs}));
    QVERIFY(translator.asked.contains(u"Mirrors|Mirror %1 failed too many times, removing"_qs));
    QVERIFY(translator.asked.contains(u"Mirrors|There are no (more) known working mirrors available"_qs));
    // The alpha error is a fixed English text.
    QCOMPARE(fatal.at(0).at(0).toString(), u"Alpha parameter in channel section in update ini file not found"_qs);
}

QTEST_GUILESS_MAIN(tst_Mirrors)
#include "tst_mirrors.moc"
