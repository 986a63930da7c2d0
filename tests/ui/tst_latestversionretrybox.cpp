#include "ui/latestversionretrybox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

class tst_LatestVersionRetryBox : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void tst_LatestVersionRetryBox::answers_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("retry");

    QTest::newRow("retry") << int(QMessageBox::Retry) << true;
    QTest::newRow("abort") << int(QMessageBox::Abort) << false;
    // Closing the box is giving up.
    QTest::newRow("escape") << int(QMessageBox::NoButton) << false;
}

void tst_LatestVersionRetryBox::answers()
{
    QFETCH(int, button);

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool hadParent = true;
    bool found = false;
    // The box runs its own event loop; the timer answers it from inside,
    // once the box has become the active modal widget.
    QTimer answerer;
    answerer.setInterval(10);
    connect(&answerer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answerer.stop();
        found = true;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        hadParent = box->parentWidget() != nullptr;
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::StandardButton(button))->click();
    });
    answerer.start();

    const bool retry = LatestVersionRetryBox::ask();

    QVERIFY(found);
    QTEST(retry, "retry");
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Failed to query latest client\nversion from update server."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::Retry | QMessageBox::Abort);
    QVERIFY(!hadParent);
}

QTEST_MAIN(tst_LatestVersionRetryBox)
#include "tst_latestversionretrybox.moc"
