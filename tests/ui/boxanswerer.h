#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Answers the modal message boxes that appear while it lives, one after
// another, with the given buttons (NoButton: Escape), and keeps what each box
// showed: "title|text|icon|parented".
class BoxAnswerer final : public QObject
{
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {QMessageBox::Ok})
        : answers(std::move(answers))
    {
        connect(&poll, &QTimer::timeout, this, [this] { answer(); });
        poll.start(10);
    }

    QStringList boxes;

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == lastBox || !box->isVisible())
            return;
        lastBox = box;
        boxes << QStringLiteral("%1|%2|%3|%4")
                         .arg(box->windowTitle(), box->text())
                         .arg(int(box->icon()))
                         .arg(box->parentWidget() ? QStringLiteral("parented")
                                                  : QStringLiteral("alone"));
        const QMessageBox::StandardButton button =
                answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else if (QAbstractButton *b = box->button(button))
            b->click();
        else
            box->reject();
    }

    QList<QMessageBox::StandardButton> answers;
    QTimer poll;
    QPointer<QMessageBox> lastBox;
};

// Runs the event loop until something ends it with QCoreApplication::exit()
// or timeoutMs pass (then -99). trigger runs from inside the loop.
//
// exit() also marks the thread as quitting, after which every later event
// loop, message boxes included, would end at once; a round of the
// application's own loop clears that mark again.
inline int runUntilExit(const std::function<void()> &trigger, int timeoutMs)
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, trigger);
    QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(-99); });
    const int code = loop.exec();
    if (code != -99) {
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    return code;
}
