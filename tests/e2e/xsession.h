#pragma once

#include "childprocess.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QtGlobal>

// An X server of the test's own: Xvfb on a display number it picks itself,
// for as long as the object lives.
class XvfbServer final
{
public:
    XvfbServer()
    {
        // -displayfd: Xvfb takes the first free display and says which.
        process.start(QStringLiteral("/usr/bin/Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        if (!process.waitForStarted(10000))
            return;
        while (!process.canReadLine() && process.waitForReadyRead(20000)) {
        }
        bool ok = false;
        const int number = process.readLine().trimmed().toInt(&ok);
        if (ok)
            name = QStringLiteral(":%1").arg(number);
    }

    ~XvfbServer()
    {
        stopChildProcess(process);
    }

    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    bool isRunning() const { return !name.isEmpty() && process.state() == QProcess::Running; }
    // The value of DISPLAY for its clients.
    QString display() const { return name; }

private:
    QProcess process;
    QString name;
};

// A client connection to an X server, for looking at and acting on the
// windows of the program under test as a user would: find a window by its
// title, close it, cover it, see what is on top. Window ids are plain
// numbers here, so that no X header reaches the Qt code.
class XSession final
{
public:
    explicit XSession(const QString &display);
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    bool isOpen() const { return connection != nullptr; }

    // Mapped windows whose title is exactly title.
    QList<quint64> windowsTitled(const QString &title) const;
    // Asks the window to close, as the close button of a window manager does.
    void closeWindow(quint64 window) const;
    // A window over the whole screen, on top of everything.
    quint64 createCover() const;
    // The window's place in the stacking order of the top-level windows,
    // 0 being the bottom; -1 when it is not a top-level window.
    int stackingIndex(quint64 window) const;
    quint64 inputFocus() const;

private:
    void *connection = nullptr;
};
