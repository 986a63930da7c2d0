#pragma once

#include <QFile>
#include <QPointer>
#include <QString>

#include "download/mirrors.h"
#include "tasks/taskspecification.h"

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file from the mirror pool into a target file. Every failed
// attempt counts against its mirror and starts over on a mirror drawn afresh;
// the task gives up only when the pool is empty. It does not verify what it
// fetched: its parent does.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadTaskSpecification)

public:
    // expectedSize is -1 when the caller does not know the size.
    DownloadTaskSpecification(QNetworkAccessManager *manager, Mirrors *mirrors,
                              const QString &sourcePath, const QString &targetPath,
                              qint64 expectedSize, QObject *parent, double weight);
    ~DownloadTaskSpecification() override;

    // The largest body accepted when the caller gave no expected size; 0
    // accepts any. A larger body is a failed attempt on its mirror, so that
    // a mirror streaming without end cannot fill the disk.
    void setSizeLimit(qint64 maxBytes) { sizeLimit = maxBytes; }
    qint64 getSizeLimit() const { return sizeLimit; }

    // The mirror of the current or the last finished attempt; its name is
    // empty between attempts.
    const FTPSiteAccessData &getMirror() const { return mirror; }
    const QString &getSourcePath() const { return sourcePath; }
    QString getTargetPath() const { return file.fileName(); }

public slots:
    void execute() override;
    void reset() override;
    void timeTick(quint64 &downloadDone, quint64 &downloadTotal, quint64 &speed,
                  bool &downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification *other) override;

protected:
    virtual void downloadFinished();

    void startDownload();
    void resetDownload();
    bool readData();
    void errorRetry(const QString &text);

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();
    void onOtherDownloadFinished(QNetworkReply *finishedReply);

private:
    void dropReply();
    void releaseHeldMirror();
    void stopWaitingForMirror();
    qint64 bodyLimit() const;

    QNetworkAccessManager *manager;
    Mirrors *mirrorPool;
    // Guarded: the access manager deletes its replies when it goes first.
    QPointer<QNetworkReply> reply;
    int ticksWithoutData = 0;
    QString sourcePath;
    QFile file;
    qint64 bytesAtLastTick = 0;
    qint64 expectedSize;
    qint64 initialExpectedSize;
    qint64 bytesReceived = 0;
    FTPSiteAccessData mirror;
    // Whether this task holds one of the mirror's slots. The mirror's name
    // stays known after a finished attempt (a failed check blames it), so the
    // name alone cannot tell whether the slot was already given back.
    bool mirrorHeld = false;
    qint64 sizeLimit = 0;
};
