#include "ui/mainwindow.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTranslator>
#include <QtTest>

#include "boxanswerer.h"
#include "core/configuration.h"
#include "core/programvalues.h"
#include "core/singleinstancechecker.h"
#include "core/updateengine.h"
#include "ui/changelogviewer.h"
#include "ui/newsbanner.h"
#include "ui/urlclicklabel.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// What a layout holds, in order: object names, and spacers as
// "spacer WxH policy".
QStringList layoutContents(const QLayout *layout)
{
    QStringList items;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget()) {
            items << item->widget()->objectName();
        } else if (item->layout()) {
            items << item->layout()->objectName();
        } else if (QSpacerItem *spacer = item->spacerItem()) {
            const QSizePolicy::Policy policy = spacer->sizePolicy().horizontalPolicy();
            items << QStringLiteral("spacer %1x%2 %3")
                             .arg(spacer->sizeHint().width())
                             .arg(spacer->sizeHint().height())
                             .arg(policy == QSizePolicy::Expanding ? QStringLiteral("expanding")
                                                                   : QStringLiteral("fixed"));
        }
    }
    return items;
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray pngImage()
{
    QImage image(468, 60, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void form();
    void versionLabel_data();
    void versionLabel();
    void progress_data();
    void progress();
    void downloadLabels_data();
    void downloadLabels();
    void details();
    void startButtonStates();
    void closeAfterSuccess_data();
    void closeAfterSuccess();
    void unattendedSuccess_data();
    void unattendedSuccess();
    void closeQuestion_data();
    void closeQuestion();
    void errors_data();
    void errors();
    void banner_data();
    void banner();
    void otherInstance_data();
    void otherInstance();
    void germanTexts();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    void makeWindow();
    // Starts an update whose mirror accepts the request and never answers.
    void startStalledUpdate();
    QStringList log() const;
    QString clientMarker() const { return root->filePath(QStringLiteral("client-started")); }

    QTemporaryDir temp;
    std::unique_ptr<QTemporaryDir> root;
    QTcpServer silentMirror;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<MainWindow> window;
    UpdateEngine *engine = nullptr;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(temp.isValid());
    // Sessions left behind by cancelled updates go into the test's own
    // directory.
    QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(temp.filePath(QStringLiteral("tmp"))));
    // No banner query leaves the machine: the lookup of an empty name fails.
    BANNER_SERVER.clear();
    QVERIFY(silentMirror.listen(QHostAddress::LocalHost));
}

void tst_MainWindow::init()
{
    root = std::make_unique<QTemporaryDir>(temp.filePath(QStringLiteral("install-XXXXXX")));
    QVERIFY(root->isValid());
    Configuration::setAppRootPath(root->path());
    QVERIFY(writeText(root->filePath(QStringLiteral("mirrors.ini")),
                      QStringLiteral("[mirrors]\nsize=1\n1\\mirror=silent\n[silent]\nurl=http://127.0.0.1:%1/\n")
                              .arg(silentMirror.serverPort())
                              .toUtf8()));
    const QString script = root->filePath(Configuration::getClientBinaryName());
    QVERIFY(writeText(script, "#!/bin/sh\necho started > \"$(dirname \"$0\")/client-started\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    makeWindow();
}

void tst_MainWindow::cleanup()
{
    delete ChangeLogViewer::instance();
    window.reset();
    configuration.reset();
    Configuration::setAppRootPath(QString());
    root.reset();
}

void tst_MainWindow::makeWindow()
{
    window.reset();
    configuration = std::make_unique<Configuration>();
    configuration->clientType = Configuration::getUpdateType();
    configuration->clientVersion = 7;
    window = std::make_unique<MainWindow>(*configuration);
    engine = window->findChild<UpdateEngine *>();
    QVERIFY(engine);
}

void tst_MainWindow::startStalledUpdate()
{
    window->show();
    QTest::mouseClick(widget<QPushButton>("startButton"), Qt::LeftButton);
    QCOMPARE(engine->getEngineState(), UpdateEngine::EngineRunning);
}

QStringList tst_MainWindow::log() const
{
    return widget<QTextEdit>("outputTextEdit")->toPlainText().split(QLatin1Char('\n'));
}

void tst_MainWindow::form()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Halvex Client Update"));

    const auto *verticalLayout = window->findChild<QLayout *>(QStringLiteral("verticalLayout"));
    QVERIFY(verticalLayout);
    QCOMPARE(verticalLayout->sizeConstraint(), QLayout::SetFixedSize);
    QCOMPARE(layoutContents(verticalLayout),
             QStringList({u"horizontalLayout_2"_s, u"newsBanner"_s, u"banner"_s, u"totalProgressBar"_s,
                          u"outputTextEdit"_s, u"horizontalLayout"_s, u"horizontalLayout_3"_s}));
    QCOMPARE(layoutContents(window->findChild<QLayout *>(QStringLiteral("horizontalLayout_2"))),
             QStringList({u"versionLabel"_s, u"halvexLabel"_s}));
    QCOMPARE(layoutContents(window->findChild<QLayout *>(QStringLiteral("horizontalLayout"))),
             QStringList({u"copyrightLabel"_s, u"spacer 40x20 expanding"_s, u"downloadSpeedLabel"_s,
                          u"spacer 30x20 fixed"_s, u"totalSizeLabel"_s, u"label_6"_s, u"totalTotalSizeLabel"_s}));
    QCOMPARE(layoutContents(window->findChild<QLayout *>(QStringLiteral("horizontalLayout_3"))),
             QStringList({u"detailsButton"_s, u"changelogButton"_s, u"spacer 40x20 expanding"_s, u"startButton"_s}));

    auto *logo = widget<UrlClickLabel>("halvexLabel");
    QCOMPARE(logo->minimumSize(), QSize(48, 48));
    QCOMPARE(logo->maximumSize(), QSize(48, 48));
    QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(logo->pixmap().size(), QSize(48, 48));
    QCOMPARE(logo->getUrl(), QStringLiteral(HALVEX_WEBSITE));
    // The window icon the program sets comes from the resources too.
    QImageReader icon(QStringLiteral(":/images/application.ico"));
    QCOMPARE(icon.imageCount(), 3);
    QVERIFY(!icon.read().isNull());

    QVERIFY(widget<NewsBanner>("newsBanner"));

    auto *banner = widget<UrlClickLabel>("banner");
    QCOMPARE(banner->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(banner->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(banner->minimumSize(), QSize(468, 60));
    QCOMPARE(banner->maximumSize(), QSize(468, 60));
    QCOMPARE(banner->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(banner->hasScaledContents());
    QCOMPARE(banner->alignment(), Qt::AlignCenter);

    auto *progress = widget<QProgressBar>("totalProgressBar");
    QCOMPARE(progress->maximum(), 1000);
    QCOMPARE(progress->value(), 0);
    QCOMPARE(progress->alignment(), Qt::AlignCenter);

    auto *log = widget<QTextEdit>("outputTextEdit");
    QCOMPARE(log->maximumHeight(), 100);
    QVERIFY(log->tabChangesFocus());
    QVERIFY(log->isReadOnly());
    QVERIFY(log->isHidden());

    QVERIFY(widget<QLabel>("copyrightLabel")->openExternalLinks());
    QVERIFY(widget<QLabel>("copyrightLabel")->text().contains(QStringLiteral(HALVEX_WEBSITE)));
    QCOMPARE(widget<QLabel>("downloadSpeedLabel")->sizePolicy().horizontalPolicy(),
             QSizePolicy::Fixed);
    QVERIFY(widget<QPushButton>("detailsButton")->isCheckable());
    QVERIFY(widget<QPushButton>("startButton")->isDefault());
    QCOMPARE(widget<QPushButton>("startButton")->text(), QStringLiteral("Start Update"));
    QCOMPARE(widget<QPushButton>("changelogButton")->text(), QStringLiteral("View Changes"));
    QCOMPARE(widget<QPushButton>("detailsButton")->text(), QStringLiteral("Details"));

    // Tab order: start, details, changelog, log.
    QStringList order;
    QWidget *next = widget<QPushButton>("startButton");
    do {
        if (!next->objectName().isEmpty() && next != window.get())
            order << next->objectName();
        next = next->nextInFocusChain();
    } while (next != widget<QPushButton>("startButton"));
    order.removeIf([](const QString &name) {
        return !QStringList({u"startButton"_s, u"detailsButton"_s, u"changelogButton"_s, u"outputTextEdit"_s}).contains(name);
    });
    QCOMPARE(order, QStringList({u"startButton"_s, u"detailsButton"_s, u"changelogButton"_s, u"outputTextEdit"_s}));
}

void tst_MainWindow::versionLabel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("versionString");
    QTest::addColumn<int>("unattended");
    QTest::addColumn<QString>("expected");

    const QString head = QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">Update to Halvex %1.</div>");
    const QString line = QStringLiteral("<div style=\"margin-top:8px\">You are currently on <strong>%1 channel</strong>.</div>");
    QTest::newRow("stable with version") << 0 << "3.0.1" << 0
                                         << head.arg(QStringLiteral("3.0.1")) + line.arg(QStringLiteral("Stable"));
    QTest::newRow("stable without version") << 0 << "" << 0 << line.arg(QStringLiteral("Stable"));
    QTest::newRow("beta with version") << 1 << "3.0.2-beta" << 0
                                       << head.arg(QStringLiteral("3.0.2-beta")) + line.arg(QStringLiteral("Beta"));
    QTest::newRow("beta without version") << 1 << "" << 0 << line.arg(QStringLiteral("Beta"));
    QTest::newRow("alpha with version") << 2 << "1300" << 0
                                        << head.arg(QStringLiteral("1300")) + line.arg(QStringLiteral("Alpha"));
    QTest::newRow("alpha without version") << 2 << "" << 0 << line.arg(QStringLiteral("Alpha"));
    // Still a value of the enumeration's range, which covers 0 to 3.
    QTest::newRow("unknown channel") << 3 << "" << 0 << line.arg(QString());
    QTest::newRow("unattended") << 0 << "3.0.1" << 1
                                << head.arg(QStringLiteral("3.0.1")) + line.arg(QStringLiteral("Stable"));
}

void tst_MainWindow::versionLabel()
{
    QFETCH(int, channel);
    QFETCH(QString, versionString);
    QFETCH(int, unattended);

    configuration->channel = UpdateChannel(channel);
    configuration->versionString = versionString;
    configuration->unattended = unattended;
    window->setUIToConfigSpecs();

    QTEST(widget<QLabel>("versionLabel")->text(), "expected");
    QCOMPARE(widget<QPushButton>("startButton")->isEnabled(), unattended == 0);
}

void tst_MainWindow::progress_data()
{
    QTest::addColumn<qreal>("fraction");
    QTest::addColumn<int>("value");

    QTest::newRow("nothing") << qreal(0.0) << 0;
    QTest::newRow("under two per mille") << qreal(0.0019) << 1;
    QTest::newRow("half") << qreal(0.5) << 500;
    QTest::newRow("almost all") << qreal(0.9996) << 999;
    QTest::newRow("all") << qreal(1.0) << 1000;
}

void tst_MainWindow::progress()
{
    QFETCH(qreal, fraction);

    emit engine->updateProgress(fraction);

    QTEST(widget<QProgressBar>("totalProgressBar")->value(), "value");
}

void tst_MainWindow::downloadLabels_data()
{
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("speed");
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("999 bytes") << quint64(999) << quint64(999) << quint64(999) << true
                               << QStringList({u"0 KB"_s, u"0 KB"_s, u"0 KB/s"_s});
    QTest::newRow("1000 bytes") << quint64(1000) << quint64(1000) << quint64(1000) << true
                                << QStringList({u"1 KB"_s, u"1 KB"_s, u"1 KB/s"_s});
    QTest::newRow("1536000 bytes a second") << quint64(1536000) << quint64(20999999) << quint64(1536000)
                                            << true << QStringList({u"1536 KB"_s, u"20999 KB"_s, u"1536 KB/s"_s});
    QTest::newRow("beyond 32 bits") << quint64(5000000000) << quint64(9000000000) << quint64(0) << true
                                    << QStringList({u"5000000 KB"_s, u"9000000 KB"_s, u"0 KB/s"_s});
    // The figures of the last round stay, hidden.
    QTest::newRow("not downloading") << quint64(1536000) << quint64(2000000) << quint64(1000) << false
                                     << QStringList({u"0 KB"_s, u"0 KB"_s, u"0 KB/s"_s});
}

void tst_MainWindow::downloadLabels()
{
    QFETCH(quint64, done);
    QFETCH(quint64, total);
    QFETCH(quint64, speed);
    QFETCH(bool, downloading);

    window->show();
    const QList<QLabel *> labels = {widget<QLabel>("totalSizeLabel"), widget<QLabel>("totalTotalSizeLabel"),
                                    widget<QLabel>("downloadSpeedLabel"), widget<QLabel>("label_6")};
    for (QLabel *label : labels)
        QVERIFY2(label->isHidden(), qPrintable(label->objectName()));

    emit engine->downloadProgress(done, total, speed, downloading);

    for (QLabel *label : labels)
        QCOMPARE(label->isVisible(), downloading);
    QTEST(QStringList({labels.at(0)->text(), labels.at(1)->text(), labels.at(2)->text()}), "texts");
    QCOMPARE(labels.at(3)->text(), QStringLiteral("/"));
}

void tst_MainWindow::details()
{
    window->show();
    for (int i = 0; i < 40; ++i)
        emit engine->message(QStringLiteral("line %1").arg(i));
    auto *log = widget<QTextEdit>("outputTextEdit");
    QCOMPARE(log->document()->blockCount(), 40);
    QCOMPARE(log->document()->lastBlock().text(), QStringLiteral("line 39"));

    QTest::mouseClick(widget<QPushButton>("detailsButton"), Qt::LeftButton);
    QVERIFY(log->isVisible());
    // The scroll to the newest line follows once the pane is laid out.
    QTRY_VERIFY(log->verticalScrollBar()->maximum() > 0);
    QTRY_COMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());

    QTest::mouseClick(widget<QPushButton>("detailsButton"), Qt::LeftButton);
    QVERIFY(log->isHidden());
}

void tst_MainWindow::startButtonStates()
{
    auto *start = widget<QPushButton>("startButton");
    QStringList states;
    auto record = [&] {
        states << QStringLiteral("%1|%2|%3")
                          .arg(start->text(),
                               start->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"),
                               engine->busy() ? QStringLiteral("busy") : QStringLiteral("idle"));
    };
    BoxAnswerer answerer({QMessageBox::Ok, QMessageBox::Ok});
    window->show();
    record();

    startStalledUpdate();
    record();
    // A second start while busy changes nothing.
    window->onAutoStartUpdate();
    QCOMPARE(log().count(QStringLiteral("Starting update process")), 1);

    engine->cancelUpdate();
    QTRY_COMPARE(answerer.boxes.size(), 1);
    record();
    QCOMPARE(widget<QProgressBar>("totalProgressBar")->value(), 0);
    QVERIFY(log().contains(QStringLiteral("Update cancelled")));

    // Restart takes up the session of the cancelled attempt.
    QTest::mouseClick(start, Qt::LeftButton);
    record();
    QVERIFY(log().contains(QStringLiteral("Previous update session for v. 7 found")));

    engine->cancelUpdate();
    QTRY_COMPARE(answerer.boxes.size(), 2);
    widget<QPushButton>("detailsButton")->setFocus();
    QCOMPARE(window->focusWidget(), widget<QPushButton>("detailsButton"));
    emit engine->updateFinished();
    record();
    QCOMPARE(window->focusWidget(), start);

    QVERIFY(!QFile::exists(clientMarker()));
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QTRY_VERIFY(QFile::exists(clientMarker()));

    QCOMPARE(states, QStringList({u"Start Update|enabled|idle"_s, u"Start Update|disabled|busy"_s,
                                  u"Restart|enabled|idle"_s, u"Restart|disabled|busy"_s,
                                  u"Start Halvex|enabled|idle"_s}));
    const QString cancelBox = QStringLiteral("Update|Update cancelled. Push \"Details\" to check reasons.|%1|parented")
                                      .arg(int(QMessageBox::Critical));
    QCOMPARE(answerer.boxes, QStringList({cancelBox, cancelBox}));
}

void tst_MainWindow::closeAfterSuccess_data()
{
    QTest::addColumn<bool>("click");
    QTest::addColumn<bool>("clientStarted");

    QTest::newRow("start button") << true << true;
    QTest::newRow("closed") << false << false;
}

void tst_MainWindow::closeAfterSuccess()
{
    QFETCH(bool, click);

    window->show();
    emit engine->updateFinished();
    if (click)
        QTest::mouseClick(widget<QPushButton>("startButton"), Qt::LeftButton);
    else
        QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QTest::qWait(300);
    QTEST(QFile::exists(clientMarker()), "clientStarted");
}

void tst_MainWindow::unattendedSuccess_data()
{
    QTest::addColumn<bool>("changelogOpen");

    QTest::newRow("nothing open") << false;
    QTest::newRow("changelog open") << true;
}

void tst_MainWindow::unattendedSuccess()
{
    QFETCH(bool, changelogOpen);

    configuration->unattended = 1;
    window->setUIToConfigSpecs();
    window->show();
    if (changelogOpen) {
        QTest::mouseClick(widget<QPushButton>("changelogButton"), Qt::LeftButton);
        QVERIFY(ChangeLogViewer::instance());
    }
    QElapsedTimer clock;
    clock.start();
    emit engine->updateFinished();
    QCOMPARE(widget<QPushButton>("startButton")->text(), QStringLiteral("Start Halvex"));
    QVERIFY(widget<QPushButton>("startButton")->isEnabled());

    if (changelogOpen) {
        QTest::qWait(1500);
        QVERIFY(window->isVisible());
        QVERIFY(!QFile::exists(clientMarker()));
    } else {
        QTRY_VERIFY(!window->isVisible());
        QVERIFY(clock.elapsed() >= 1000);
        QTRY_VERIFY(QFile::exists(clientMarker()));
    }
}

void tst_MainWindow::closeQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("yes") << int(QMessageBox::Yes) << 0;
    QTest::newRow("no") << int(QMessageBox::No) << -99;
    QTest::newRow("dismissed") << int(QMessageBox::NoButton) << -99;
}

void tst_MainWindow::closeQuestion()
{
    QFETCH(int, answer);
    QFETCH(int, exitCode);

    startStalledUpdate();
    BoxAnswerer answerer({QMessageBox::StandardButton(answer)});
    const int code = runUntilExit([this] { window->close(); }, 3000);

    QCOMPARE(code, exitCode);
    QCOMPARE(answerer.boxes,
             QStringList(QStringLiteral("Question|<p>Update in progress.</p><p>Are you sure you want to abort?</p>|%1|parented")
                                 .arg(int(QMessageBox::Question))));
    if (exitCode == 0) {
        // Quitting after the cancellation shows nothing more.
        QVERIFY(log().contains(QStringLiteral("User aborted update")));
        QVERIFY(!log().contains(QStringLiteral("Update cancelled")));
    } else {
        QCOMPARE(engine->getEngineState(), UpdateEngine::EngineRunning);
        QVERIFY(window->isVisible());
    }
}

void tst_MainWindow::errors_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("box");

    QTest::newRow("engine fatal") << "engine fatal" << 2 << "Error|mirrors.ini is missing|3|parented";
    QTest::newRow("configuration fatal") << "configuration fatal" << 1 << "Error|mirrors.ini is missing|3|alone";
    QTest::newRow("task error") << "engine error" << -99 << "Error|mirrors.ini is missing|3|parented";
}

void tst_MainWindow::errors()
{
    QFETCH(QString, source);
    QFETCH(QString, box);

    window->show();
    BoxAnswerer answerer;
    const QString text = QStringLiteral("mirrors.ini is missing");
    const int code = runUntilExit(
            [&] {
                if (source == QLatin1String("engine fatal"))
                    emit engine->fatalError(text);
                else if (source == QLatin1String("configuration fatal"))
                    emit configuration->fatalError(text);
                else
                    emit engine->error(text);
            },
            1000);

    QTEST(code, "exitCode");
    QCOMPARE(answerer.boxes, QStringList(box));
    // Only a task's error goes to the log as well.
    QCOMPARE(log().contains(text), source == QLatin1String("engine error"));
}

void tst_MainWindow::banner_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("shown");

    QTest::newRow("png") << pngImage() << true;
    QTest::newRow("not an image") << QByteArray("<html>not found</html>") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void tst_MainWindow::banner()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, shown);

    emit engine->bannerFound(image, QStringLiteral("https://news.halvex.example/season?id=4"));

    auto *banner = widget<UrlClickLabel>("banner");
    QCOMPARE(!banner->pixmap().isNull(), shown);
    QCOMPARE(banner->toolTip(),
             shown ? QStringLiteral("Click to open \"https://news.halvex.example\"") : QString());
    QCOMPARE(banner->getUrl(),
             shown ? QStringLiteral("https://news.halvex.example/season?id=4") : QString());
}

void tst_MainWindow::otherInstance_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("activated");

    QTest::newRow("come to the front") << "#" << true;
    QTest::newRow("anything else") << "hello" << false;
}

void tst_MainWindow::otherInstance()
{
    QFETCH(QString, message);
    QFETCH(bool, activated);

    window->show();
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    // The message comes as a second updater sends it, through the window's
    // own listener.
    QVERIFY(SingleInstanceChecker::checkExistingInstance(message));
    QTest::qWait(200);
    QTRY_COMPARE(QApplication::activeWindow() == window.get(), activated);
    QCOMPARE(QApplication::activeWindow() == &other, !activated);
}

void tst_MainWindow::germanTexts()
{
    QTranslator translator;
    // The locale's full name falls back to the catalogue of its language.
    QVERIFY(translator.load(QStringLiteral(":/i18n/update_de_DE")));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    makeWindow();
    configuration->versionString = QStringLiteral("3.0.1");
    configuration->channel = Beta;
    window->setUIToConfigSpecs();

    BoxAnswerer answerer;
    emit engine->error(QStringLiteral("x"));
    QTRY_COMPARE(answerer.boxes.size(), 1);
    emit engine->updateFinished();

    const QStringList texts = {
        widget<QPushButton>("startButton")->text(),
        widget<QPushButton>("changelogButton")->text(),
        widget<QPushButton>("detailsButton")->text(),
        widget<QLabel>("versionLabel")->text(),
        widget<NewsBanner>("newsBanner")->toolTip(),
        answerer.boxes.value(0).section(QLatin1Char('|'), 0, 0),
    };
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(texts, QStringList({
        u"Halvex starten"_s,
        u"Änderungen"_s,
        u"Details"_s,
        u"<div style=\"font-weight:bold;font-size:14px\">Update auf Halvex 3.0.1.</div>"
        u"<div style=\"margin-top:8px\">Sie benutzen den <strong>Beta Channel</strong>.</div>"_s,
        u"Klicken, um die aktuellen Halvex Neuigkeiten anzuzeigen."_s,
        u"Fehler"_s,
    }));
    // Another language finds no catalogue: the texts stay English.
    QTranslator french;
    QVERIFY(!french.load(QStringLiteral(":/i18n/update_fr_FR")));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
