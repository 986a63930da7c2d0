#include "ui/changelogviewer.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QtTest>

#include "core/configuration.h"
#include "core/randomsource.h"
#include "faultserver.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString Failed = QStringLiteral("Failed to load changelog.");
const QString Changes = QStringLiteral("Version 5\n\n* Faster maps\n* New arena\n");
constexpr quint32 Seed = 4711;

bool writeText(const QString &path, const QByteArray &text)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// The list order for which a dialog seeded with Seed tries the addresses in
// tryOrder: each draw takes the entry at a random index out of the list.
QStringList listForTryOrder(const QStringList &tryOrder)
{
    RandomSource::seed(Seed);
    QList<qsizetype> positions;
    for (qsizetype i = 0; i < tryOrder.size(); ++i)
        positions << i;
    QStringList list(tryOrder.size());
    for (const QString &address : tryOrder)
        list[positions.takeAt(RandomSource::bounded(int(positions.size())))] = address;
    return list;
}

} // namespace

class tst_ChangeLogViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void dialog();
    void fetch_data();
    void fetch();
    void oneDialogAtATime();
    void sizing_data();
    void sizing();
    void germanTexts();

private:
    QTextEdit *textEdit() const
    {
        return ChangeLogViewer::instance()->findChild<QTextEdit *>(QStringLiteral("changeLogTextEdit"));
    }
    // "@" stands for the server's address with a trailing "/".
    QString expand(QString text) const { return text.replace(u'@', server->url()); }
    void writeMirrors(const QStringList &addresses) const;

    QTemporaryDir files;
    std::unique_ptr<FaultServer> server;
    std::unique_ptr<QTemporaryDir> root;
    QWidget parent;
};

void tst_ChangeLogViewer::initTestCase()
{
    QVERIFY(files.isValid());
    QVERIFY(writeText(files.filePath(QStringLiteral("5/changelog_client.txt")), Changes.toUtf8()));
    QVERIFY(writeText(files.filePath(QStringLiteral("sub/5/changelog_client.txt")), Changes.toUtf8()));
    QVERIFY(writeText(files.filePath(QStringLiteral("moved/5/changelog_client.txt")),
                      "<html><body><p>The document has moved <a href=\"/5/\">here</a>.</p></body></html>"));
    QVERIFY(writeText(files.filePath(QStringLiteral("empty/5/changelog_client.txt")), QByteArray()));
    server = std::make_unique<FaultServer>(files.path());
    QVERIFY(server->isRunning());
}

void tst_ChangeLogViewer::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    Configuration::setAppRootPath(root->path());
    QVERIFY(server->resetStats());
}

void tst_ChangeLogViewer::cleanup()
{
    delete ChangeLogViewer::instance();
    QVERIFY(!ChangeLogViewer::instance());
    Configuration::setAppRootPath(QString());
    root.reset();
}

void tst_ChangeLogViewer::writeMirrors(const QStringList &addresses) const
{
    QByteArray text = "[mirrors]\nsize=" + QByteArray::number(addresses.size()) + '\n';
    for (int i = 0; i < addresses.size(); ++i)
        text += QByteArray::number(i + 1) + "\\mirror=m" + QByteArray::number(i) + '\n';
    for (int i = 0; i < addresses.size(); ++i) {
        // "-" leaves the mirror's group out.
        if (addresses.at(i) != QLatin1String("-"))
            text += "[m" + QByteArray::number(i) + "]\nurl=" + expand(addresses.at(i)).toUtf8() + '\n';
    }
    QVERIFY(writeText(root->filePath(QStringLiteral("mirrors.ini")), text));
}

void tst_ChangeLogViewer::dialog()
{
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("5"));
    ChangeLogViewer *viewer = ChangeLogViewer::instance();
    QVERIFY(viewer);
    QCOMPARE(viewer->parentWidget(), &parent);
    QCOMPARE(viewer->objectName(), QStringLiteral("ChangeLogViewer"));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Changelog"));
    QVERIFY(viewer->isVisible());
    QVERIFY(textEdit()->isReadOnly());
    QCOMPARE(textEdit()->lineWrapMode(), QTextEdit::NoWrap);
    // Without update.ini and mirrors.ini nothing is asked.
    QCOMPARE(textEdit()->toPlainText(), Failed);
    QCOMPARE(server->stats().requests, 0);

    auto *buttons = viewer->findChild<QDialogButtonBox *>();
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Close);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Close), Qt::LeftButton);
    QTRY_VERIFY(!ChangeLogViewer::instance());
}

void tst_ChangeLogViewer::fetch_data()
{
    QTest::addColumn<QString>("alpha");
    // Mirror addresses in the order the dialog is to try them; "-" is a
    // mirror without a group, "none" means no mirrors.ini.
    QTest::addColumn<QStringList>("mirrors");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<int>("minimumMs");

    const QString file = QStringLiteral("/5/changelog_client.txt");
    const QString stalled = QStringLiteral("@stall=0/");
    QTest::newRow("good mirror") << "" << QStringList({u"@"_s}) << Changes << QStringList({file}) << 0;
    QTest::newRow("time-out, then the next mirror")
            << "" << QStringList({stalled, u"@"_s}) << Changes
            << QStringList({u"/stall=0"_s + file, file}) << 2000;
    QTest::newRow("time-out of the only mirror")
            << "" << QStringList({stalled}) << Failed << QStringList({u"/stall=0"_s + file}) << 2000;
    QTest::newRow("document has moved")
            << "" << QStringList({u"@moved"_s, u"@"_s}) << Changes << QStringList({u"/moved"_s + file, file}) << 0;
    QTest::newRow("HTTP error, then the next mirror")
            << "" << QStringList({u"@status=404/"_s, u"@"_s}) << Changes
            << QStringList({u"/status=404"_s + file, file}) << 0;
    QTest::newRow("every mirror fails")
            << "" << QStringList({u"@status=500/"_s, u"@status=404/"_s}) << Failed
            << QStringList({u"/status=500"_s + file, u"/status=404"_s + file}) << 0;
    // The redirection is neither followed nor passed off as a failure.
    QTest::newRow("redirect not followed")
            << "" << QStringList({u"@status=302/"_s, u"@"_s}) << "moved\n" << QStringList({u"/status=302"_s + file}) << 0;
    QTest::newRow("mirror without address skipped") << "" << QStringList({u"-"_s, u"@"_s}) << Changes
                                                    << QStringList({file}) << 0;
    QTest::newRow("mirror base ending in /") << "" << QStringList({u"@sub/"_s}) << Changes
                                             << QStringList({u"/sub"_s + file}) << 0;
    QTest::newRow("mirror base without /") << "" << QStringList({u"@sub"_s}) << Changes
                                           << QStringList({u"/sub"_s + file}) << 0;
    QTest::newRow("alpha") << "@sub" << QStringList({u"@"_s}) << Changes << QStringList({u"/sub"_s + file}) << 0;
    QTest::newRow("alpha base ending in /") << "@sub/" << QStringList({u"@"_s}) << Changes
                                            << QStringList({u"/sub"_s + file}) << 0;
    // The alpha builds have one address: its failure is final.
    QTest::newRow("alpha tried once") << "@status=404/" << QStringList({u"@"_s}) << Failed
                                      << QStringList({u"/status=404"_s + file}) << 0;
    QTest::newRow("alpha without mirrors.ini") << "@" << QStringList({u"none"_s}) << Changes
                                               << QStringList({file}) << 0;
    QTest::newRow("update.ini without alpha") << "none" << QStringList({u"@"_s}) << Changes
                                              << QStringList({file}) << 0;
    QTest::newRow("nothing usable") << "" << QStringList({u"-"_s}) << Failed << QStringList() << 0;
}

void tst_ChangeLogViewer::fetch()
{
    QFETCH(QString, alpha);
    QFETCH(QStringList, mirrors);
    QFETCH(QString, text);
    QFETCH(int, minimumMs);

    if (!alpha.isEmpty()) {
        const QByteArray ini = alpha == QLatin1String("none")
                ? QByteArray("[Channel]\nbeta=true\n")
                : "[Channel]\nalpha=" + expand(alpha).toUtf8() + '\n';
        QVERIFY(writeText(root->filePath(QStringLiteral("update.ini")), ini));
    }
    if (mirrors != QStringList(QStringLiteral("none")))
        writeMirrors(listForTryOrder(mirrors));

    QElapsedTimer clock;
    clock.start();
    RandomSource::seed(Seed);
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("5"));
    QTRY_VERIFY_WITH_TIMEOUT(textEdit()->toPlainText() != QLatin1String("Loading..."), 15000);

    QCOMPARE(textEdit()->toPlainText(), text);
    QTEST(server->stats().paths, "paths");
    QVERIFY2(clock.elapsed() >= minimumMs, qPrintable(QString::number(clock.elapsed())));
}

void tst_ChangeLogViewer::oneDialogAtATime()
{
    writeMirrors({QStringLiteral("@stall=0/"), QStringLiteral("@")});
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("5"));
    ChangeLogViewer *first = ChangeLogViewer::instance();
    QCOMPARE(textEdit()->toPlainText(), QStringLiteral("Loading..."));

    // A second press while loading only brings the dialog to the front.
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("6"));
    QCOMPARE(ChangeLogViewer::instance(), first);
    QTRY_COMPARE_WITH_TIMEOUT(textEdit()->toPlainText(), Changes, 15000);
    const int requests = server->stats().requests;
    QVERIFY(requests >= 1 && requests <= 2);

    first->close();
    QTRY_VERIFY(!ChangeLogViewer::instance());

    // A new dialog starts with the full mirror list again.
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("5"));
    QVERIFY(ChangeLogViewer::instance() != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(textEdit()->toPlainText(), Changes, 15000);
    QVERIFY(server->stats().requests > requests);
}

void tst_ChangeLogViewer::sizing_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("short lines") << "Version 5\n\n* Faster maps\n* A new arena, bigger than all the others\n";
    QTest::newRow("wider than the screen") << QString(400, u'W') + QStringLiteral("\nshort");
    QTest::newRow("only empty lines") << "\n\n\n";
    QTest::newRow("empty") << "";
}

void tst_ChangeLogViewer::sizing()
{
    QFETCH(QString, text);

    auto *viewer = new ChangeLogViewer(&parent);
    viewer->resize(123, 234);
    viewer->load(text);
    auto *edit = viewer->findChild<QTextEdit *>(QStringLiteral("changeLogTextEdit"));

    QSize expected(123, 234);
    if (!text.isEmpty()) {
        const QFontMetrics metrics(edit->currentFont());
        int widest = 0;
        for (const QString &line : text.split(u'\n'))
            widest = qMax(widest, metrics.horizontalAdvance(line));
        const QRect available = viewer->screen()->availableGeometry();
        expected = QSize(qMin(widest == 0 ? 500 : widest + 50, available.width()),
                         qMin(500, available.height()));
    }
    QCOMPARE(edit->toPlainText(), text);
    QCOMPARE(viewer->size(), expected);
    delete viewer;
}

void tst_ChangeLogViewer::germanTexts()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/update_de")));
    QCoreApplication::installTranslator(&translator);
    writeMirrors({QStringLiteral("@stall=0/")});
    ChangeLogViewer::showRemoteChangeLogDialog(&parent, QStringLiteral("5"));
    const QString loading = textEdit()->toPlainText();
    QTRY_VERIFY_WITH_TIMEOUT(textEdit()->toPlainText() != loading, 15000);
    const QStringList texts = {loading, textEdit()->toPlainText(), ChangeLogViewer::instance()->windowTitle()};
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(texts, QStringList({u"Lade..."_s, u"Konnte Changelog nicht laden."_s, u"Changelog"_s}));
}

QTEST_MAIN(tst_ChangeLogViewer)
#include "tst_changelogviewer.moc"
