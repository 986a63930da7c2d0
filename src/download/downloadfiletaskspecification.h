#pragma once

#include "download/filespecifications.h"
#include "tasks/composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Downloads one file of the list into the temporary directory and checks its
// MD5 sum. A wrong sum is blamed on the mirror that delivered it: the mirror
// leaves the pool and the file is fetched again from another.
class DownloadFileTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadFileTaskSpecification)

public:
    DownloadFileTaskSpecification(const FileDownloadSpecification &file,
                                  QNetworkAccessManager *manager, Mirrors *mirrors,
                                  Configuration *configuration, QObject *parent, double weight);

public slots:
    void execute() override;
    void reset() override;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

private:
    void makeSubtasksAndStart();

    QString section;
    QString fileName;
    QString md5;
    qint64 size;
    QNetworkAccessManager *manager;
    Mirrors *mirrorPool;
    Configuration *configuration;
    DownloadTaskSpecification *download = nullptr;
};
