#include "updateserver.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <cstdio>

namespace {

const QByteArray VersionRequest("3\0", 2);
const QByteArray NewsRequest("*\0", 2);
const QByteArray BannerRequest("\x01\x01", 2);

void logLine(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

bool bindSocket(QUdpSocket *socket, const QHostAddress &address, quint16 port,
                const QString &what, QString *error)
{
    // No address sharing: a second server on the same port must fail at
    // start rather than steal half of the requests.
    if (socket->bind(address, port, QAbstractSocket::DontShareAddress))
        return true;
    *error = QStringLiteral("cannot listen for %1 requests on %2 port %3: %4")
                     .arg(what, address.toString())
                     .arg(port)
                     .arg(socket->errorString());
    return false;
}

} // namespace

UpdateServer::UpdateServer(const ServerReplies &replies, QObject *parent)
    : QObject(parent),
      replies(replies),
      querySocket(new QUdpSocket(this)),
      bannerSocket(new QUdpSocket(this))
{
    connect(querySocket, &QUdpSocket::readyRead, this, &UpdateServer::onQueryReadyRead);
    connect(bannerSocket, &QUdpSocket::readyRead, this, &UpdateServer::onBannerReadyRead);
}

bool UpdateServer::listen(const QHostAddress &address, quint16 queryPort, quint16 bannerPort,
                          QString *error)
{
    if (!bindSocket(querySocket, address, queryPort, QStringLiteral("version and news"), error)
        || !bindSocket(bannerSocket, address, bannerPort, QStringLiteral("banner"), error)) {
        return false;
    }
    logLine(QStringLiteral("halvex-update-server: version and news requests on %1 port %2")
                    .arg(address.toString())
                    .arg(this->queryPort()));
    logLine(QStringLiteral("halvex-update-server: banner requests on %1 port %2")
                    .arg(address.toString())
                    .arg(this->bannerPort()));
    return true;
}

quint16 UpdateServer::queryPort() const
{
    return querySocket->localPort();
}

quint16 UpdateServer::bannerPort() const
{
    return bannerSocket->localPort();
}

void UpdateServer::onQueryReadyRead()
{
    while (querySocket->hasPendingDatagrams())
        answer(querySocket, querySocket->receiveDatagram());
}

void UpdateServer::onBannerReadyRead()
{
    while (bannerSocket->hasPendingDatagrams())
        answer(bannerSocket, bannerSocket->receiveDatagram());
}

void UpdateServer::answer(QUdpSocket *socket, const QNetworkDatagram &request)
{
    const QString peer = QStringLiteral("%1:%2")
                                 .arg(request.senderAddress().toString())
                                 .arg(request.senderPort());
    const QByteArray data = request.data();

    QString kind;
    QByteArray reply;
    if (socket == querySocket && data == VersionRequest) {
        kind = QStringLiteral("version request");
        reply = replies.versionReply;
    } else if (socket == querySocket && data == NewsRequest) {
        kind = QStringLiteral("news request");
        reply = replies.newsReply;
    } else if (socket == bannerSocket && data == BannerRequest) {
        if (replies.bannerReply.isEmpty()) {
            logLine(QStringLiteral("%1 banner request, not answered: no banner configured")
                            .arg(peer));
            return;
        }
        kind = QStringLiteral("banner request");
        reply = replies.bannerReply;
    } else {
        logLine(QStringLiteral("%1 ignored a datagram of %2 bytes on port %3")
                        .arg(peer)
                        .arg(data.size())
                        .arg(socket->localPort()));
        return;
    }

    if (socket->writeDatagram(reply, request.senderAddress(), request.senderPort()) < 0) {
        logLine(QStringLiteral("%1 %2, reply failed: %3").arg(peer, kind, socket->errorString()));
        return;
    }
    logLine(QStringLiteral("%1 %2, answered with %3 bytes").arg(peer, kind).arg(reply.size()));
}
