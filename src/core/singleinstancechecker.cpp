#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int WaitMs = 1000;

} // namespace

SingleInstanceChecker::SingleInstanceChecker(QObject *parent)
    : QObject(parent),
      server(new QLocalServer(this))
{
    connect(server, &QLocalServer::newConnection, this, &SingleInstanceChecker::onNewConnection);
    // A name still taken means another updater listens; this one then
    // simply hears nothing.
    server->listen(getLocalServerName());
}

SingleInstanceChecker::~SingleInstanceChecker()
{
    server->close();
    if (connection)
        connection->close();
}

QString SingleInstanceChecker::getLocalServerName()
{
    QString key = QCoreApplication::applicationFilePath().toLower() + QDir::homePath();
    key.remove(QLatin1Char('/'));
    key.remove(QLatin1Char(':'));
    const quint16 crc = qChecksum(key.toUtf8());
    return QStringLiteral("HVXClientUpdate") + QString::number(crc, 16);
}

bool SingleInstanceChecker::checkExistingInstance(const QString &message)
{
    const QString name = getLocalServerName();
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (!socket.waitForConnected(WaitMs)) {
        // The name is there but nobody listens on it: an updater crashed and
        // left it behind. Unless it goes, the listen that follows fails and
        // this updater, deaf to later starts, would let a second one work on
        // the same installation at the same time.
        if (socket.error() == QLocalSocket::ConnectionRefusedError)
            QLocalServer::removeServer(name);
        return false;
    }
    if (socket.write(message.toLatin1()) <= 0)
        return false;
    const bool written = socket.waitForBytesWritten(WaitMs);
    socket.disconnectFromServer();
    return written;
}

bool SingleInstanceChecker::isListening() const
{
    return server->isListening();
}

void SingleInstanceChecker::onNewConnection()
{
    // Only the newest connection is read; an earlier one is dropped unread.
    dropConnection();
    connection = server->nextPendingConnection();
    if (connection)
        connect(connection, &QLocalSocket::readyRead, this, &SingleInstanceChecker::onReadyRead);
}

void SingleInstanceChecker::onReadyRead()
{
    if (!connection)
        return;
    const QByteArray bytes = connection->readAll();
    const qsizetype end = bytes.indexOf('\0');
    const QString message = QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
    emit otherInstanceActivate(message);
    // This runs inside the connection's own notification: it goes later.
    dropConnection();
}

void SingleInstanceChecker::dropConnection()
{
    if (!connection)
        return;
    disconnect(connection, nullptr, this, nullptr);
    connection->close();
    connection->deleteLater();
    connection = nullptr;
}
