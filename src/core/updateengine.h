#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class Configuration;
class MainTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Prepares an update session (crypto library, mirror list, temporary
// directory, session record), runs the update as one main task, reports its
// progress, figures, log and outcome, cleans up after success, and fetches
// the banner image.
class UpdateEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateEngine)

public:
    enum EngineState {
        EngineIdle = 0,
        EngineInitialized = 1,
        EngineRunning = 2,
        EngineFinished = 3,
        EngineCanceled = 4,
    };
    Q_ENUM(EngineState)

    // The largest banner image accepted, as announced by its server.
    static constexpr qint64 MaxBannerSize = 270000;

    UpdateEngine(Configuration &configuration, QObject *parent);
    ~UpdateEngine() override;

    bool initialize();
    bool startUpdate();
    bool busy() const;
    void reset();
    void getBanner();
    void cleanup();

    static void removeOldFiles(const QString &dir);
    static void cleanupDirectory(const QString &path);

    EngineState getEngineState() const { return engineState; }
    Mirrors *getMirrorPool() const { return mirrorPool; }
    QNetworkAccessManager *getNetworkManager() const { return networkManager; }
    // Where the banner query is sent; tests point it at a server of their own.
    void setBannerServer(const QString &host, quint16 port);

public slots:
    void cancelUpdate();

signals:
    void fatalError(const QString &errorMessage);
    void error(const QString &errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed,
                          bool downloading);
    void message(const QString &message);
    void updateFinished();
    void updateCanceled();
    void bannerFound(const QByteArray &bannerImage, const QString &clickUrl);

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();
    void onBannerFound(const QString &bannerUrl, const QString &clickUrl);
    void onBannerDownloadFinished();
    void onBannermetaDataChanged();

private:
    void dropMainTask();
    // Whether dir is safe to take up again: a real directory of this user
    // that nobody else may write into.
    static bool isOwnPrivateDirectory(const QString &dir);

    EngineState engineState = EngineIdle;
    Configuration *configuration;
    Mirrors *mirrorPool = nullptr;
    MainTaskSpecification *mainTask = nullptr;
    QTimer *progressTimer;
    QNetworkAccessManager *networkManager;
    QString bannerClickUrl;
    QPointer<QNetworkReply> bannerReply;
    QString bannerHost;
    quint16 bannerPort;
};
