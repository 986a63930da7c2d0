#pragma once

#include <QHostAddress>
#include <QObject>

#include "serverreplies.h"

class QNetworkDatagram;
class QUdpSocket;

// Answers the updater's UDP requests with fixed replies: the version and news
// requests on one port, the banner request on another. Each datagram is
// answered on its own; nothing is remembered between them.
class UpdateServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateServer)

public:
    explicit UpdateServer(const ServerReplies &replies, QObject *parent = nullptr);

    // Port 0 lets the system choose; queryPort() and bannerPort() tell which.
    bool listen(const QHostAddress &address, quint16 queryPort, quint16 bannerPort,
                QString *error);
    quint16 queryPort() const;
    quint16 bannerPort() const;

private slots:
    void onQueryReadyRead();
    void onBannerReadyRead();

private:
    void answer(QUdpSocket *socket, const QNetworkDatagram &request);

    const ServerReplies replies;
    QUdpSocket *querySocket;
    QUdpSocket *bannerSocket;
};
