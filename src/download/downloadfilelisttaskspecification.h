#pragma once

#include "download/filespecifications.h"
#include "tasks/composedtaskspecification.h"

class Configuration;
class Mirrors;
class QNetworkAccessManager;

// Downloads and checks every file of the download list, up to the configured
// number of streams at once, and reports the whole list's size from the
// first tick on.
class DownloadFileListTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadFileListTaskSpecification)

public:
    // fileList is read when the task starts, so it may be filled afterwards.
    DownloadFileListTaskSpecification(QList<FileDownloadSpecification> *fileList,
                                      QNetworkAccessManager *manager, Mirrors *mirrors,
                                      Configuration *configuration, QObject *parent,
                                      double weight);

    qint64 getTotalBytes() const { return totalBytes; }

public slots:
    void execute() override;
    void reset() override;
    void timeTick(quint64 &downloadDone, quint64 &downloadTotal, quint64 &speed,
                  bool &downloading) override;

private:
    bool makeSubDirs();
    void makeSubtasksAndStart();

    QList<FileDownloadSpecification> *fileList;
    QNetworkAccessManager *manager;
    Mirrors *mirrorPool;
    Configuration *configuration;
    qint64 totalBytes = 0;
};
