#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Keeps to one updater per installation and user. A starting updater hands a
// short message to the running one over a local socket and exits; the running
// one listens under the same name and reports every message it receives.
class SingleInstanceChecker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstanceChecker)

public:
    // Starts listening under getLocalServerName().
    explicit SingleInstanceChecker(QObject *parent);
    ~SingleInstanceChecker() override;

    // "HVXClientUpdate" and a CRC-16 of this executable's path and the home
    // directory: one name per installation and user.
    static QString getLocalServerName();
    // Hands message to the updater listening under the name; true when it was
    // delivered. Blocks for at most about two seconds.
    static bool checkExistingInstance(const QString &message);

    bool isListening() const;

signals:
    void otherInstanceActivate(const QString &message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    void dropConnection();

    QLocalServer *server;
    // The one accepted connection being read.
    QLocalSocket *connection = nullptr;
};
