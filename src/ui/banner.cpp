#include "banner.h"

#include "core/programvalues.h"

#include <QHostInfo>
#include <QTimerEvent>
#include <QUdpSocket>

namespace {

constexpr int ResendIntervalMs = 5000;
constexpr qint64 MaxReplySize = 1024;

} // namespace

Banner::Banner(QObject *parent, const QString &host, quint16 port)
    : QObject(parent),
      socket(new QUdpSocket(this)),
      host(host.isEmpty() ? BANNER_SERVER : host),
      port(port)
{
    socket->bind(QHostAddress::Any, 0);
    connect(socket, &QUdpSocket::readyRead, this, &Banner::onReadyRead);
    connect(socket, &QUdpSocket::errorOccurred, this, &Banner::onError);
}

void Banner::run()
{
    QHostInfo::lookupHost(host, this, &Banner::onResolved);
}

void Banner::onResolved(const QHostInfo &hostInfo)
{
    if (hostInfo.error() != QHostInfo::NoError || hostInfo.addresses().isEmpty())
        return;
    serverAddress.clear();
    for (const QHostAddress &address : hostInfo.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            serverAddress = address;
            break;
        }
    }
    if (serverAddress.isNull())
        return;
    sendRequest();
}

void Banner::sendRequest()
{
    static const QByteArray request("\x01\x01", 2);
    if (socket->writeDatagram(request, serverAddress, port) != request.size()) {
        timer.stop();
        return;
    }
    timer.start(ResendIntervalMs, this);
}

void Banner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    // One resend only: the query ends 10 seconds after the first request.
    if (resendCount++ == 0) {
        sendRequest();
        return;
    }
    timer.stop();
}

void Banner::onReadyRead()
{
    timer.stop();
    QByteArray datagram(MaxReplySize, Qt::Uninitialized);
    const qint64 size = socket->readDatagram(datagram.data(), datagram.size());
    if (size < 0)
        return;
    datagram.truncate(size);
    const QStringList parts = QString::fromLatin1(datagram).split(QLatin1Char(','));
    if (parts.size() == 2)
        emit bannerFound(parts.at(0), parts.at(1));
}

void Banner::onError(QAbstractSocket::SocketError)
{
    timer.stop();
}
