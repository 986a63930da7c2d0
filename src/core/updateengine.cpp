#include "updateengine.h"

#include "core/configuration.h"
#include "core/maintaskspecification.h"
#include "core/randomsource.h"
#include "core/updateinidata.h"
#include "crypto/cryptfunctions.h"
#include "download/mirrors.h"
#include "ui/banner.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ProxyDefaultPort = 3128;
constexpr int TimerPeriodMs = 1000;

} // namespace

UpdateEngine::UpdateEngine(Configuration &configuration, QObject *parent)
    : QObject(parent),
      configuration(&configuration),
      progressTimer(new QTimer(this)),
      networkManager(new QNetworkAccessManager(this)),
      bannerPort(Banner::DefaultPort)
{
    connect(this->configuration, &Configuration::message, this, &UpdateEngine::message);
    connect(progressTimer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    // Mirrors answer redirects; the design drops such a mirror instead of
    // following it, and every request of this manager does the same.
    networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    this->configuration->getProxyAndDownloadConcurrency();
    const QString proxy = this->configuration->proxy;
    if (proxy.isEmpty()) {
        networkManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(proxy, QUrl::StrictMode);
    if (url.isValid() && !url.host().isEmpty()) {
        networkManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, url.host(),
                                               quint16(url.port(ProxyDefaultPort))));
        return;
    }
    // Nobody listens yet while the engine is being built: the report waits
    // for the event loop, by which time the window is connected.
    const QString text = QStringLiteral("'%1' is an invalid proxy specification").arg(proxy);
    QTimer::singleShot(0, this, [this, text] { emit fatalError(text); });
}

UpdateEngine::~UpdateEngine()
{
    // The main task is a child and goes with the engine; its signals must not
    // reach a half-destroyed engine.
    if (mainTask)
        disconnect(mainTask, nullptr, this, nullptr);
}

void UpdateEngine::setBannerServer(const QString &host, quint16 port)
{
    bannerHost = host;
    bannerPort = port;
}

bool UpdateEngine::busy() const
{
    return engineState == EngineInitialized || engineState == EngineRunning;
}

bool UpdateEngine::isOwnPrivateDirectory(const QString &dir)
{
    struct stat info;
    if (::lstat(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
            && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool UpdateEngine::initialize()
{
    try {
        crypt_init();
    } catch (const crypt_exception &e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }

    const QString root = Configuration::getAppRootPath();
    const QString mirrorsIni = QDir(root).filePath(QStringLiteral("mirrors.ini"));
    if (!QFileInfo::exists(mirrorsIni)) {
        emit fatalError(QStringLiteral("%1 is missing, cannot proceed.")
                                .arg(QStringLiteral("mirrors.ini")));
        return false;
    }

    RandomSource::seed(quint32(QDateTime::currentSecsSinceEpoch()));

    QString dir;
    int version = 0;
    QString previousDir;
    // A recorded directory is taken up again only if nobody else could have
    // put files into it: the verified downloads in it get installed as they
    // are. Anything else counts as no record.
    if (UpdateIniData::get(&version, nullptr, &previousDir)
        && isOwnPrivateDirectory(previousDir)) {
        if (version == configuration->clientVersion) {
            emit message(QStringLiteral("Previous update session for v. %1 found").arg(version));
            dir = previousDir;
        } else {
            emit message(QStringLiteral("Cleanup previous session (v. %1, %2) files...")
                                 .arg(version)
                                 .arg(previousDir));
            cleanupDirectory(previousDir);
            QDir parent(previousDir);
            if (parent.cdUp()) {
                if (parent.rmdir(QFileInfo(previousDir).fileName()))
                    emit message(QStringLiteral("Ok"));
                else
                    emit message(QStringLiteral("Failed to remove directory"));
            }
            UpdateIniData::cleanup();
        }
    }

    if (!configuration->initalizeStart(dir))
        return false;
    UpdateIniData::modify(configuration->clientVersion, configuration->tempDir,
                          configuration->clientType);

    if (mirrorPool)
        mirrorPool->deleteLater();
    mirrorPool = new Mirrors(this);
    connect(mirrorPool, &Mirrors::fatalError, this, &UpdateEngine::fatalError);
    connect(mirrorPool, &Mirrors::message, this, &UpdateEngine::message);
    const bool filled = configuration->channel == Alpha
            ? mirrorPool->initAlpha(QDir(root).filePath(QStringLiteral("update.ini")),
                                    configuration->clientVersion)
            : mirrorPool->initDefault(mirrorsIni, configuration->clientVersion);
    if (!filled)
        return false;

    engineState = EngineInitialized;
    return true;
}

bool UpdateEngine::startUpdate()
{
    mainTask = new MainTaskSpecification(networkManager, mirrorPool, configuration, this, 1.0);
    connect(mainTask, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(mainTask, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(mainTask, &TaskSpecification::error, this, &UpdateEngine::error);
    connect(mainTask, &TaskSpecification::updateProgress, this, &UpdateEngine::updateProgress);
    connect(mainTask, &TaskSpecification::message, this, &UpdateEngine::message);
    engineState = EngineRunning;
    progressTimer->start(TimerPeriodMs);
    mainTask->execute();
    return true;
}

void UpdateEngine::cancelUpdate()
{
    if (engineState == EngineRunning && mainTask)
        mainTask->userCanceled();
}

void UpdateEngine::onTimer()
{
    if (engineState != EngineRunning || !mainTask)
        return;
    quint64 downloadDone = 0;
    quint64 downloadTotal = 0;
    quint64 speed = 0;
    bool downloading = false;
    mainTask->timeTick(downloadDone, downloadTotal, speed, downloading);
    emit downloadProgress(downloadDone, downloadTotal, speed, downloading);
}

void UpdateEngine::dropMainTask()
{
    if (!mainTask)
        return;
    disconnect(mainTask, nullptr, this, nullptr);
    mainTask->deleteLater();
    mainTask = nullptr;
}

void UpdateEngine::onTaskFinished()
{
    progressTimer->stop();
    cleanup();
    engineState = EngineFinished;
    emit message(QStringLiteral("Update successfully finished"));
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    progressTimer->stop();
    engineState = EngineCanceled;
    if (mainTask && mainTask->getState() == TaskSpecification::UserCanceled)
        emit message(QStringLiteral("User aborted update"));
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::reset()
{
    engineState = EngineIdle;
    dropMainTask();
}

void UpdateEngine::cleanup()
{
    emit message(QStringLiteral("Remove temporary files..."));
    QString dir;
    if (UpdateIniData::get(nullptr, nullptr, &dir)) {
        cleanupDirectory(dir);
        QDir parent(dir);
        if (parent.cdUp())
            parent.rmdir(QFileInfo(dir).fileName());
        UpdateIniData::cleanup();
    }
    emit message(QStringLiteral("Temporary files removed."));
}

void UpdateEngine::cleanupDirectory(const QString &path)
{
    QDir dir(path);
    const QDir::Filters filters = QDir::Hidden | QDir::System | QDir::NoSymLinks
            | QDir::NoDotAndDotDot;
    for (const QString &name : dir.entryList(QDir::Files | filters))
        dir.remove(name);
    for (const QString &name : dir.entryList(QDir::Dirs | filters)) {
        cleanupDirectory(dir.filePath(name));
        dir.rmdir(name);
    }
}

void UpdateEngine::removeOldFiles(const QString &dir)
{
    QDir directory(dir);
    for (const QString &name : Configuration::getSpecialFileNames())
        directory.remove(Configuration::getSpecialFileRenamePrefix() + name);
}

void UpdateEngine::getBanner()
{
    if (bannerReply)
        return;
    auto *banner = new Banner(this, bannerHost, bannerPort);
    connect(banner, &Banner::bannerFound, this, &UpdateEngine::onBannerFound);
    banner->run();
}

void UpdateEngine::onBannerFound(const QString &bannerUrl, const QString &clickUrl)
{
    const QUrl url(bannerUrl);
    if (!url.isValid())
        return;
    bannerClickUrl = clickUrl;
    bannerReply = networkManager->get(QNetworkRequest(url));
    connect(bannerReply, &QNetworkReply::finished, this, &UpdateEngine::onBannerDownloadFinished);
    connect(bannerReply, &QNetworkReply::metaDataChanged, this,
            &UpdateEngine::onBannermetaDataChanged);
}

void UpdateEngine::onBannermetaDataChanged()
{
    if (!bannerReply)
        return;
    const QVariant length = bannerReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > MaxBannerSize) {
        QNetworkReply *reply = bannerReply;
        bannerReply = nullptr;
        // Deleting the reply ends its transfer; aborting it inside its own
        // signal would upset the network stack.
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
    }
}

void UpdateEngine::onBannerDownloadFinished()
{
    if (!bannerReply)
        return;
    QNetworkReply *reply = bannerReply;
    bannerReply = nullptr;
    const QByteArray bytes = reply->readAll();
    reply->deleteLater();
    emit bannerFound(bytes, bannerClickUrl);
}
