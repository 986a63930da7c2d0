#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "core/configuration.h"

// Asks the update server, over two blocking UDP exchanges, for the latest
// version of each release channel and for the news line. One checker serves
// one query (and the user's retries of it) and is then discarded.
class UpdateChecker final
{
public:
    static constexpr quint16 DefaultPort = 17384;
    static QString defaultHost();

    explicit UpdateChecker(const QString &host = defaultHost(), quint16 port = DefaultPort);

    bool checkUpdate();
    bool readFromServer();
    // The entry of channel, or two empty strings when the server's list is
    // shorter.
    QPair<QString, QString> getClientVersionByChannel(UpdateChannel channel) const;

    // (version text, label), one per channel in the server's order.
    QList<QPair<QString, QString>> versions;
    QString news;

private:
    QString host;
    quint16 port;
};
