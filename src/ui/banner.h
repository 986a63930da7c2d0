#pragma once

#include <QBasicTimer>
#include <QHostAddress>
#include <QObject>

class QHostInfo;
class QUdpSocket;

// Asks the update server over UDP where the banner image lies and where a
// click on it leads. Reports once through bannerFound, or stays silent: the
// banner is an extra, and no failure of it reaches the user.
class Banner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Banner)

public:
    static constexpr quint16 DefaultPort = 2009;

    // host is empty for BANNER_SERVER.
    explicit Banner(QObject *parent, const QString &host = QString(),
                    quint16 port = DefaultPort);

    void run();

signals:
    void bannerFound(const QString &bannerUrl, const QString &clickUrl);

protected:
    void timerEvent(QTimerEvent *event) override;

private slots:
    void onResolved(const QHostInfo &hostInfo);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError socketError);

private:
    void sendRequest();

    QUdpSocket *socket;
    QBasicTimer timer;
    QHostAddress serverAddress;
    int resendCount = 0;
    QString host;
    quint16 port;
};
