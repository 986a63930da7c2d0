#pragma once

#include "childprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

// Runs the system's nginx as a child process that serves rootDir on a free
// loopback port for as long as the object lives. Its configuration, pid file,
// logs and temporary paths all lie in a directory of its own, so it needs no
// system configuration and leaves nothing behind.
class NginxServer final
{
public:
    explicit NginxServer(const QString &rootDir, bool masterProcess = false)
    {
        if (!workDir.isValid() || !QFile::exists(binary()))
            return;
        // A free port can be taken by someone else before nginx binds it.
        for (int attempt = 0; attempt < 5 && serverPort == 0; ++attempt)
            start(rootDir, masterProcess);
    }

    ~NginxServer() { stop(); }

    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    static QString binary() { return QStringLiteral("/usr/sbin/nginx"); }

    bool isRunning() const { return serverPort != 0 && process.state() == QProcess::Running; }
    quint16 port() const { return serverPort; }

    QString url(const QString &path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort).arg(path);
    }

    // What nginx said about itself, for a failing test's output.
    QString errorLog() const
    {
        QFile log(workDir.filePath(QStringLiteral("error.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
    }

    QString accessLog() const
    {
        QFile log(workDir.filePath(QStringLiteral("access.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
    }

private:
    static quint16 freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        return probe.serverPort();
    }

    static QString quoted(const QString &path) { return QLatin1Char('"') + path + QLatin1Char('"'); }

    void start(const QString &rootDir, bool masterProcess)
    {
        const quint16 candidate = freePort();
        if (candidate == 0)
            return;
        const QString dir = workDir.path();
        const QString config = workDir.filePath(QStringLiteral("nginx.conf"));
        QString text;
        text += QStringLiteral("daemon off;\n");
        text += masterProcess ? QStringLiteral("master_process on;\n")
                              : QStringLiteral("master_process off;\n");
        // Worker processes of a root master would switch to an unprivileged
        // user that cannot read a private temporary directory.
        if (masterProcess && ::geteuid() == 0)
            text += QStringLiteral("user root;\n");
        text += QStringLiteral("worker_processes 1;\n");
        text += QStringLiteral("pid %1;\n").arg(quoted(dir + QStringLiteral("/nginx.pid")));
        text += QStringLiteral("error_log %1 warn;\n").arg(quoted(dir + QStringLiteral("/error.log")));
        text += QStringLiteral("events { worker_connections 512; }\n");
        text += QStringLiteral("http {\n");
        text += QStringLiteral("    access_log %1;\n").arg(quoted(dir + QStringLiteral("/access.log")));
        for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            text += QStringLiteral("    %1_temp_path %2;\n")
                        .arg(QLatin1String(kind), quoted(dir + QLatin1Char('/') + QLatin1String(kind)));
        }
        text += QStringLiteral("    default_type application/octet-stream;\n");
        text += QStringLiteral("    sendfile on;\n");
        text += QStringLiteral("    server {\n");
        text += QStringLiteral("        listen 127.0.0.1:%1;\n").arg(candidate);
        text += QStringLiteral("        root %1;\n").arg(quoted(QDir(rootDir).absolutePath()));
        text += QStringLiteral("    }\n}\n");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
            return;
        file.close();

        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(binary(), {QStringLiteral("-p"), dir + QLatin1Char('/'), QStringLiteral("-c"), config,
                                 QStringLiteral("-e"), dir + QStringLiteral("/error.log")});
        if (!process.waitForStarted(10000))
            return;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000 && process.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, candidate);
            if (socket.waitForConnected(200)) {
                serverPort = candidate;
                return;
            }
            QThread::msleep(20);
        }
        stop();
    }

    void stop()
    {
        stopChildProcess(process);
    }

    QTemporaryDir workDir;
    QProcess process;
    quint16 serverPort = 0;
};
