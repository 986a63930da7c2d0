#pragma once

#include "childprocess.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Runs halvex-update-server as a real process on loopback for the length of a
// test. Both ports are left to the system (port 0) and read back from the
// lines the server prints at start, so tests never collide on a port.
class UpdateServerProcess final
{
public:
    // What the server answers. versions holds the entries of stable, beta and
    // alpha in this order; each one given is written, even when empty.
    struct Replies
    {
        QStringList versions;
        QString news;
        QString bannerImage;
        QString bannerClick;
    };

    UpdateServerProcess() = default;
    ~UpdateServerProcess() { stop(); }
    UpdateServerProcess(const UpdateServerProcess &) = delete;
    UpdateServerProcess &operator=(const UpdateServerProcess &) = delete;

    static QString program()
    {
        return QStringLiteral(HALVEX_TEST_BUILD_DIR "/tools/update-server/halvex-update-server");
    }

    // Writes a settings file for the server. Every value is quoted, so
    // commas and semicolons reach the server whole.
    static bool writeSettings(const QString &path, const Replies &replies)
    {
        static const char *const channelKeys[] = {"stable", "beta", "alpha"};
        QByteArray text = "[versions]\n";
        for (int i = 0; i < replies.versions.size() && i < 3; ++i)
            text += QByteArray(channelKeys[i]) + '=' + quoted(replies.versions.at(i)) + '\n';
        text += "[news]\ntext=" + quoted(replies.news) + '\n';
        text += "[banner]\nimage=" + quoted(replies.bannerImage) + '\n';
        text += "click=" + quoted(replies.bannerClick) + '\n';
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(text) == text.size();
    }

    // Starts the server on the given settings file and waits until it
    // listens. extraArguments come after the defaults --port 0 --banner-port 0;
    // as the last value of an option counts, they may replace them. False,
    // with the server's output in log(), when it did not come up.
    bool start(const QString &settingsPath, const QStringList &extraArguments = {})
    {
        stop();
        QStringList arguments = {QStringLiteral("--port"), QStringLiteral("0"),
                                 QStringLiteral("--banner-port"), QStringLiteral("0")};
        arguments += extraArguments;
        arguments += settingsPath;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program(), arguments);
        if (!process.waitForStarted(10000))
            return false;

        static const QRegularExpression listening(
                QStringLiteral("(version and news|banner) requests on \\S+ port (\\d+)"));
        const QDeadlineTimer deadline(10000);
        while (queryPortNumber == 0 || bannerPortNumber == 0) {
            while (process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(process.readLine());
                output += line;
                const QRegularExpressionMatch match = listening.match(line);
                if (!match.hasMatch())
                    continue;
                const quint16 port = match.captured(2).toUShort();
                if (match.captured(1) == QLatin1String("banner"))
                    bannerPortNumber = port;
                else
                    queryPortNumber = port;
            }
            if (queryPortNumber != 0 && bannerPortNumber != 0)
                break;
            if (process.state() != QProcess::Running || deadline.hasExpired()
                || !process.waitForReadyRead(int(deadline.remainingTime()))) {
                output += QString::fromLocal8Bit(process.readAll());
                return false;
            }
        }
        return true;
    }

    void stop()
    {
        stopChildProcess(process);
        queryPortNumber = 0;
        bannerPortNumber = 0;
    }

    quint16 queryPort() const { return queryPortNumber; }
    quint16 bannerPort() const { return bannerPortNumber; }

    // Everything the server printed so far.
    QString log()
    {
        output += QString::fromLocal8Bit(process.readAll());
        return output;
    }

private:
    static QByteArray quoted(const QString &value)
    {
        QByteArray escaped = value.toUtf8();
        escaped.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + escaped + '"';
    }

    QProcess process;
    QString output;
    quint16 queryPortNumber = 0;
    quint16 bannerPortNumber = 0;
};
