#include "updatechecker.h"

#include <QByteArray>

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int ReplyTimeoutSeconds = 5;
constexpr int VersionReplyMax = 511;
constexpr int NewsReplyMax = 4095;

// Closes the socket however the exchange ends.
class SocketCloser final
{
public:
    explicit SocketCloser(int fd) : fd(fd) {}
    ~SocketCloser() { ::close(fd); }
    SocketCloser(const SocketCloser &) = delete;
    SocketCloser &operator=(const SocketCloser &) = delete;

private:
    int fd;
};

class AddressInfoReleaser final
{
public:
    explicit AddressInfoReleaser(addrinfo *info) : info(info) {}
    ~AddressInfoReleaser() { ::freeaddrinfo(info); }
    AddressInfoReleaser(const AddressInfoReleaser &) = delete;
    AddressInfoReleaser &operator=(const AddressInfoReleaser &) = delete;

private:
    addrinfo *info;
};

bool sendRequest(int fd, char request, const addrinfo *address)
{
    const char datagram[2] = {request, '\0'};
    const ssize_t sent = ::sendto(fd, datagram, sizeof datagram, 0, address->ai_addr,
                                  address->ai_addrlen);
    return sent > 0;
}

// One datagram as 8-bit text, ending at its first zero byte.
bool receiveText(int fd, int maxBytes, QString *text)
{
    QByteArray buffer(maxBytes, '\0');
    ssize_t received;
    do {
        // A signal handler interrupts a receive with a time-out even under
        // SA_RESTART; that is no answer from the server, so wait on.
        received = ::recv(fd, buffer.data(), size_t(maxBytes), 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return false;
    *text = QString::fromLatin1(buffer.constData(), qstrnlen(buffer.constData(), uint(received)));
    return true;
}

} // namespace

QString UpdateChecker::defaultHost()
{
    return QStringLiteral(HALVEX_UPDATE_SERVER);
}

UpdateChecker::UpdateChecker(const QString &host, quint16 port) : host(host), port(port) {}

bool UpdateChecker::checkUpdate()
{
    return readFromServer();
}

bool UpdateChecker::readFromServer()
{
    // A retry after a half-finished exchange starts afresh: keeping the
    // entries of the earlier attempt would let them shadow the new ones.
    versions.clear();

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    const SocketCloser closer(fd);

    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *addresses = nullptr;
    const QByteArray service = QByteArray::number(port);
    if (::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &addresses) != 0
        || addresses == nullptr) {
        return false;
    }
    const AddressInfoReleaser releaser(addresses);

    if (!sendRequest(fd, '3', addresses))
        return false;

    timeval timeout = {};
    timeout.tv_sec = ReplyTimeoutSeconds;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return false; // without the time-out a silent server would block for ever

    QString versionText;
    if (!receiveText(fd, VersionReplyMax, &versionText))
        return false;
    const QStringList entries = versionText.split(QLatin1Char(','));
    for (const QString &entry : entries) {
        const qsizetype hash = entry.indexOf(QLatin1Char('#'));
        if (hash < 0)
            versions.append(qMakePair(entry, QString()));
        else
            versions.append(qMakePair(entry.left(hash), entry.mid(hash + 1)));
    }

    if (!sendRequest(fd, '*', addresses))
        return false;
    return receiveText(fd, NewsReplyMax, &news);
}

QPair<QString, QString> UpdateChecker::getClientVersionByChannel(UpdateChannel channel) const
{
    const int index = int(channel);
    if (index < 0 || index >= versions.size())
        return qMakePair(QString(), QString());
    return versions.at(index);
}
