#include "downloadtaskspecification.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// Bodies are copied to the file through one buffer of this size, never held whole.
constexpr qint64 chunkSize = 4096;
// How much of a body the toolkit may hold before it stops reading the socket.
// Unbounded, a fast mirror fills memory faster than the file is written.
constexpr qint64 replyBufferSize = 256 * 1024;

} // namespace

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager *manager,
                                                     Mirrors *mirrors,
                                                     const QString &sourcePath,
                                                     const QString &targetPath,
                                                     qint64 expectedSize, QObject *parent,
                                                     double weight)
    : TaskSpecification(parent, weight),
      manager(manager),
      mirrorPool(mirrors),
      sourcePath(sourcePath),
      file(targetPath),
      expectedSize(expectedSize),
      initialExpectedSize(expectedSize)
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    // The pool may already be gone when the engine is torn down, so the slot
    // is not given back here; the transfer itself must not outlive the task.
    dropReply();
}

void DownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Downloading %1").arg(sourcePath));
    state = Running;
    startDownload();
}

void DownloadTaskSpecification::startDownload()
{
    switch (mirrorPool->getRandomMirror(mirror)) {
    case 0:
        break;
    case 2:
        // Every slot is taken: any request of the manager that ends may free
        // one. Queued, so that the finishing download has given its slot back
        // before this one asks again.
        connect(manager, &QNetworkAccessManager::finished, this,
                &DownloadTaskSpecification::onOtherDownloadFinished,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
        return;
    default:
        // The pool has already said that it is empty.
        errorCancel();
        return;
    }
    mirrorHeld = true;

    // Unbuffered, so that a full disk shows at the write that fails and not
    // only when the file is closed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit error(QStringLiteral("Unable to create file %1 for saving").arg(file.fileName()));
        releaseHeldMirror();
        errorCancel();
        return;
    }

    // The relative path is percent-encoded so that names with '#', '?' or
    // '%' reach the mirror as the file's name.
    QUrl url(mirror.url + QLatin1Char('/'));
    url.setPath(url.path(QUrl::FullyEncoded)
                        + QString::fromLatin1(QUrl::toPercentEncoding(sourcePath, "/")),
                QUrl::TolerantMode);
    QNetworkRequest request(url);
    // A mirror that redirects answers wrongly and is dropped, so the answer
    // must reach the status check instead of being followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    reply = manager->get(request);
    if (!reply) {
        emit error(QStringLiteral("Download failed to initialize"));
        releaseHeldMirror();
        file.close();
        file.remove();
        errorCancel();
        return;
    }
    if (!reply->isRunning()) {
        errorRetry(reply->errorString());
        return;
    }
    reply->setReadBufferSize(replyBufferSize);
    connect(reply, &QNetworkReply::downloadProgress, this,
            &DownloadTaskSpecification::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(reply, &QNetworkReply::finished, this,
            &DownloadTaskSpecification::onDownloadFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this,
            &DownloadTaskSpecification::onMetaDataChanged);
}

void DownloadTaskSpecification::onOtherDownloadFinished(QNetworkReply *)
{
    stopWaitingForMirror();
    if (!reply)
        startDownload();
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!reply)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    bool ok = false;
    int code = status.toInt(&ok);
    if (!ok)
        code = 0;
    if (code == 200)
        return;
    // A mirror that answers with anything but the file (missing, broken,
    // moved, locked) will not get better by asking again.
    const QString text = QStringLiteral("%1 returned %2")
                             .arg(mirror.url + QLatin1Char('/') + sourcePath, QString::number(code));
    mirrorPool->removeMirror(mirror.name);
    errorRetry(text);
}

void DownloadTaskSpecification::onReadyRead()
{
    readData();
}

bool DownloadTaskSpecification::readData()
{
    char buffer[chunkSize];
    while (reply) {
        ticksWithoutData = 0;
        const qint64 available = reply->bytesAvailable();
        if (available <= 0)
            return true;
        const qint64 bytesRead = reply->read(buffer, qMin(chunkSize, available));
        if (bytesRead < 0) {
            errorRetry(reply->errorString());
            return false;
        }
        if (bytesRead == 0)
            return true;
        const qint64 limit = bodyLimit();
        if (limit > 0 && bytesReceived + bytesRead > limit) {
            errorRetry(QStringLiteral("%1 from mirror %2 is larger than expected: "
                                      "%3 bytes received, %4 bytes expected")
                           .arg(sourcePath, mirror.name, QString::number(bytesReceived + bytesRead),
                                QString::number(limit)));
            return false;
        }
        const qint64 written = file.write(buffer, bytesRead);
        if (written < 0) {
            errorRetry(file.errorString());
            return false;
        }
        if (written != bytesRead) {
            errorRetry(QStringLiteral("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                           .arg(file.fileName(), QString::number(bytesRead),
                                QString::number(written)));
            return false;
        }
        bytesReceived += bytesRead;
        if (expectedSize > 0)
            setProgress(qMin(1.0, double(bytesReceived) / double(expectedSize)));
    }
    return true;
}

qint64 DownloadTaskSpecification::bodyLimit() const
{
    // The size the caller expects comes from the signed product ini; the
    // size a mirror announces proves nothing.
    return initialExpectedSize > 0 ? initialExpectedSize : sizeLimit;
}

void DownloadTaskSpecification::onDownloadProgress(qint64, qint64 bytesTotal)
{
    // Only a size the server announced counts: at the end of a body without
    // a length the toolkit reports the bytes received as the total.
    if (bytesTotal > 0 && expectedSize == -1 && reply
        && reply->header(QNetworkRequest::ContentLengthHeader).isValid())
        expectedSize = bytesTotal;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!reply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        const QString text = reply->errorString();
        if (reply->error() == QNetworkReply::AuthenticationRequiredError) {
            mirrorPool->removeMirror(mirror.name);
            reply->close();
        }
        errorRetry(text);
        return;
    }
    if (readData()) {
        disconnect(reply, nullptr, this, nullptr);
        reply->close();
        reply->deleteLater();
        reply = nullptr;
        file.close();
        downloadFinished();
    }
}

void DownloadTaskSpecification::downloadFinished()
{
    emit message(QStringLiteral("Downloading %1 finished").arg(sourcePath));
    releaseHeldMirror();
    finish();
}

void DownloadTaskSpecification::errorRetry(const QString &text)
{
    mirrorPool->addMirrorError(mirror.name);
    resetDownload();
    emit message(text);
    startDownload();
}

void DownloadTaskSpecification::resetDownload()
{
    releaseHeldMirror();
    mirror.name.clear();
    // A task that is reset or cancelled while it waits for a slot must not
    // start again when some other download ends.
    stopWaitingForMirror();
    dropReply();
    ticksWithoutData = 0;
    if (file.isOpen()) {
        file.close();
        file.remove();
    }
    bytesAtLastTick = 0;
    bytesReceived = 0;
    expectedSize = initialExpectedSize;
    setProgress(0.0);
}

void DownloadTaskSpecification::reset()
{
    resetDownload();
    TaskSpecification::reset();
}

void DownloadTaskSpecification::timeTick(quint64 &downloadDone, quint64 &downloadTotal,
                                         quint64 &speed, bool &downloading)
{
    downloadDone = quint64(bytesReceived);
    downloadTotal = expectedSize > 0 ? quint64(expectedSize) : 0;
    speed = quint64(bytesReceived - bytesAtLastTick);
    bytesAtLastTick = bytesReceived;
    if (state != Running || !reply)
        return;
    // Counts from the request on, so a mirror that never answers is caught too.
    ++ticksWithoutData;
    if (ticksWithoutData > mirror.timeoutTicks)
        errorRetry(QStringLiteral("file %1 timed out on mirror %2").arg(sourcePath, mirror.name));
    else
        downloading = true;
}

void DownloadTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != Running)
        return;
    resetDownload();
    userCancel();
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    if (reply) {
        emit message(QStringLiteral("Abort downloading %1").arg(sourcePath));
        resetDownload();
    } else {
        stopWaitingForMirror();
    }
    // A sibling stopped by the user makes this a user cancel too; counted as
    // an error, it would turn the user's cancel of several parallel downloads
    // into a failed update.
    if (other && other->getState() == UserCanceled)
        userCancel();
    else
        errorCancel();
}

void DownloadTaskSpecification::dropReply()
{
    if (!reply)
        return;
    QNetworkReply *old = reply;
    reply = nullptr;
    disconnect(old, nullptr, this, nullptr);
    // Aborted, not only deleted: that drops the connection and makes the
    // manager report the request finished, which wakes the downloads waiting
    // for a slot. From the event loop, because this may run inside one of the
    // reply's own signals, which must not be cut short.
    QMetaObject::invokeMethod(old, &QNetworkReply::abort, Qt::QueuedConnection);
    old->deleteLater();
}

void DownloadTaskSpecification::releaseHeldMirror()
{
    if (!mirrorHeld)
        return;
    mirrorHeld = false;
    mirrorPool->releaseMirror(mirror.name);
}

void DownloadTaskSpecification::stopWaitingForMirror()
{
    disconnect(manager, nullptr, this, nullptr);
}
