#include "downloadfilelisttaskspecification.h"

#include "core/configuration.h"
#include "download/downloadfiletaskspecification.h"

#include <QDir>
#include <QSet>

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
        QList<FileDownloadSpecification> *fileList, QNetworkAccessManager *manager,
        Mirrors *mirrors, Configuration *configuration, QObject *parent, double weight)
    : ComposedTaskSpecification(configuration->streams, weight, parent),
      fileList(fileList),
      manager(manager),
      mirrorPool(mirrors),
      configuration(configuration)
{
}

void DownloadFileListTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileListTaskSpecification::makeSubtasksAndStart()
{
    if (fileList->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        finish();
        return;
    }
    if (!makeSubDirs())
        return;
    emit message(QStringLiteral("Downloading files"));

    // Every file counts the same towards the progress, whatever its size.
    const double weight = 1.0 / fileList->size();
    for (const FileDownloadSpecification &file : std::as_const(*fileList)) {
        addSubTask(new DownloadFileTaskSpecification(file, manager, mirrorPool, configuration,
                                                     this, weight));
        totalBytes += file.size;
    }
    state = Running;
    executeSubTasks();
}

bool DownloadFileListTaskSpecification::makeSubDirs()
{
    QSet<QString> made{QStringLiteral(".")};
    const QDir tempDir(configuration->tempDir);
    for (const FileDownloadSpecification &file : std::as_const(*fileList)) {
        const int slash = file.fileName.lastIndexOf(QLatin1Char('/'));
        const QString directory =
                slash < 0 ? QStringLiteral(".") : file.fileName.left(slash);
        if (made.contains(directory))
            continue;
        if (!tempDir.mkpath(directory)) {
            emit message(QStringLiteral("Could not create dir %1")
                                 .arg(tempDir.canonicalPath() + QLatin1Char('/') + directory));
            errorCancel();
            return false;
        }
        made.insert(directory);
    }
    return true;
}

void DownloadFileListTaskSpecification::timeTick(quint64 &downloadDone, quint64 &downloadTotal,
                                                 quint64 &speed, bool &downloading)
{
    ComposedTaskSpecification::timeTick(downloadDone, downloadTotal, speed, downloading);
    // The whole list, files not yet begun included.
    downloadTotal = quint64(totalBytes);
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubTasks();
    totalBytes = 0;
    TaskSpecification::reset();
}
