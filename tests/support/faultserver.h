#pragma once

#include "childprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

// Runs faultserver.py, the suite's own misbehaving HTTP server, as a child
// process on a free loopback port for as long as the object lives. It serves
// the files below rootDir; the faults are chosen by leading path segments
// such as "status=404" or "stall=100" (see the script).
class FaultServer final
{
public:
    struct Stats
    {
        int requests = -1;
        QStringList paths;
        // Client connections open right now.
        int openConnections = -1;
        // The most requests served at the same time since the last reset.
        int maxActive = -1;
    };

    explicit FaultServer(const QString &rootDir)
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            return;
        // Tracebacks go to the test's own output and can never fill a pipe.
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(python, {QStringLiteral(HALVEX_TEST_SOURCE_DIR "/tests/support/faultserver.py"),
                               QStringLiteral("--root"), rootDir});
        if (!process.waitForStarted(10000))
            return;
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith("PORT "))
            serverPort = line.mid(5).toUShort();
    }

    ~FaultServer()
    {
        stopChildProcess(process);
    }

    FaultServer(const FaultServer &) = delete;
    FaultServer &operator=(const FaultServer &) = delete;

    bool isRunning() const { return serverPort != 0 && process.state() == QProcess::Running; }
    quint16 port() const { return serverPort; }

    // The server's address followed by path, which may start with fault segments.
    QString url(const QString &path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort).arg(path);
    }

    Stats stats() const
    {
        Stats result;
        const QJsonObject object = QJsonDocument::fromJson(get("/__stats")).object();
        if (object.isEmpty())
            return result;
        result.requests = object.value(QLatin1String("requests")).toInt();
        result.openConnections = object.value(QLatin1String("open")).toInt();
        result.maxActive = object.value(QLatin1String("maxActive")).toInt();
        for (const QJsonValue &path : object.value(QLatin1String("paths")).toArray())
            result.paths.append(path.toString());
        return result;
    }

    bool resetStats() const { return get("/__reset") == "ok\n"; }

private:
    // A blocking request of its own, so that a test can read the counters
    // without running the event loop.
    QByteArray get(const QByteArray &path) const
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), serverPort);
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
            answer += socket.readAll();
        answer += socket.readAll();
        const int bodyStart = answer.indexOf("\r\n\r\n");
        return bodyStart < 0 ? QByteArray() : answer.mid(bodyStart + 4);
    }

    QProcess process;
    quint16 serverPort = 0;
};
