#include "ui/newsbanner.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QtTest>

#include "ui/urlclicklabel.h"

using namespace Qt::StringLiterals;

namespace {

// Stands in for the desktop's URL handler.
class UrlRecorder final : public QObject
{
    Q_OBJECT

public:
    QStringList opened;

public slots:
    void open(const QUrl &url) { opened << url.toString(); }
};

// A parent that notes the presses its children pass on.
class Parent final : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

// Notes, before each paint, where the news is drawn and whether it pauses.
class PaintLog final : public QObject
{
public:
    struct Entry
    {
        int offset;
        bool paused;
        qint64 at;
    };

    explicit PaintLog(NewsBanner *banner) : banner(banner)
    {
        clock.start();
        banner->installEventFilter(this);
    }

    QList<Entry> entries;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            entries.append({banner->offset(), banner->isPaused(), clock.elapsed()});
        return false;
    }

private:
    NewsBanner *banner;
    QElapsedTimer clock;
};

} // namespace

class tst_NewsBanner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void construction();
    void scrollsThroughThenPauses_data();
    void scrollsThroughThenPauses();
    void newsDuringPauseRestarts();
    void narrowerWidget();
    void clicks_data();
    void clicks();

private:
    UrlRecorder recorder;
};

void tst_NewsBanner::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
}

void tst_NewsBanner::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void tst_NewsBanner::init()
{
    recorder.opened.clear();
}

void tst_NewsBanner::construction()
{
    NewsBanner banner(nullptr);
    QCOMPARE(banner.minimumHeight(), 16);
    QCOMPARE(banner.maximumHeight(), 16);
    QCOMPARE(banner.objectName(), QStringLiteral("NewsBanner"));
    QCOMPARE(banner.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(banner.toolTip(), QStringLiteral("Click to read latest Halvex news"));
}

void tst_NewsBanner::scrollsThroughThenPauses_data()
{
    QTest::addColumn<QString>("news");

    QTest::newRow("rich text") << "<b>Season</b> two";
    QTest::newRow("empty") << "";
}

void tst_NewsBanner::scrollsThroughThenPauses()
{
    QFETCH(QString, news);

    NewsBanner banner(nullptr);
    banner.resize(60, 16);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    PaintLog log(&banner);
    banner.setNews(news);
    QCOMPARE(banner.offset(), 50);
    QCOMPARE(banner.isPaused(), false);
    QCOMPARE(banner.newsWidth() > 0, !news.isEmpty());

    // The pass ends where the text's end is more than 10 pixels beyond the
    // left edge; the text then comes back from the right after 3 s.
    const int lastOffset = -10 - banner.newsWidth() - 1;
    QTRY_VERIFY_WITH_TIMEOUT(banner.isPaused(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!banner.isPaused() && banner.offset() < 40, 10000);

    QList<PaintLog::Entry> drawn;
    for (const PaintLog::Entry &entry : std::as_const(log.entries)) {
        if (!entry.paused)
            drawn << entry;
    }
    qsizetype first = 0;
    while (first < drawn.size() && drawn.at(first).offset != 49)
        ++first;
    // One pixel each step, from the right edge to past the left one...
    qsizetype last = first;
    while (last + 1 < drawn.size() && drawn.at(last + 1).offset == drawn.at(last).offset - 1)
        ++last;
    QVERIFY(last + 1 < drawn.size());
    QCOMPARE(drawn.at(last).offset, lastOffset);
    // ...then three seconds without drawing, and in again from the right.
    QCOMPARE(drawn.at(last + 1).offset, 49);
    const qint64 pause = drawn.at(last + 1).at - drawn.at(last).at;
    QVERIFY2(pause >= 2900, qPrintable(QString::number(pause)));
}

void tst_NewsBanner::newsDuringPauseRestarts()
{
    NewsBanner banner(nullptr);
    banner.resize(30, 16);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(QString());
    QTRY_VERIFY_WITH_TIMEOUT(banner.isPaused(), 5000);

    banner.setNews(QStringLiteral("Fresh news"));
    QVERIFY(!banner.isPaused());
    QCOMPARE(banner.offset(), 20);
    // It scrolls on at once, not after the rest of the pause.
    QTRY_VERIFY_WITH_TIMEOUT(banner.offset() < 15, 1000);
}

void tst_NewsBanner::narrowerWidget()
{
    NewsBanner banner(nullptr);
    banner.resize(300, 16);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(QStringLiteral("News"));
    QCOMPARE(banner.offset(), 290);

    banner.resize(50, 16);
    QTRY_VERIFY(banner.offset() <= 40);
}

void tst_NewsBanner::clicks_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("button");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<int>("passedOn");

    const QString site = QStringLiteral(HALVEX_WEBSITE);
    QTest::newRow("news, left") << "news" << "" << int(Qt::LeftButton) << QStringList(site) << 0;
    QTest::newRow("news, right") << "news" << "" << int(Qt::RightButton) << QStringList() << 1;
    QTest::newRow("news, middle") << "news" << "" << int(Qt::MiddleButton) << QStringList() << 1;
    const QString link = QStringLiteral("https://news.halvex.example/banner");
    QTest::newRow("label, left") << "label" << link << int(Qt::LeftButton) << QStringList(link) << 0;
    QTest::newRow("label, right") << "label" << link << int(Qt::RightButton) << QStringList(link) << 0;
    QTest::newRow("label, middle") << "label" << link << int(Qt::MiddleButton) << QStringList(link) << 0;
    QTest::newRow("label without address") << "label" << "" << int(Qt::LeftButton) << QStringList() << 0;
}

void tst_NewsBanner::clicks()
{
    QFETCH(QString, widget);
    QFETCH(QString, url);
    QFETCH(int, button);

    Parent parent;
    auto *layout = new QVBoxLayout(&parent);
    QWidget *target = nullptr;
    if (widget == QLatin1String("news")) {
        target = new NewsBanner(&parent);
    } else {
        auto *label = new UrlClickLabel(&parent);
        label->setText(QStringLiteral("banner"));
        label->setUrl(url);
        target = label;
    }
    layout->addWidget(target);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    QTest::mouseClick(target, Qt::MouseButton(button));

    QTEST(recorder.opened, "opened");
    QTEST(parent.presses, "passedOn");
}

QTEST_MAIN(tst_NewsBanner)
#include "tst_newsbanner.moc"
