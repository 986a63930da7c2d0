#include "downloadfiletaskspecification.h"

#include "core/configuration.h"
#include "crypto/checksignaturetaskspecification.h"
#include "download/downloadtaskspecification.h"
#include "download/mirrors.h"

DownloadFileTaskSpecification::DownloadFileTaskSpecification(
        const FileDownloadSpecification &file, QNetworkAccessManager *manager, Mirrors *mirrors,
        Configuration *configuration, QObject *parent, double weight)
    : ComposedTaskSpecification(1, weight, parent),
      section(file.section),
      fileName(file.fileName),
      md5(file.md5),
      size(file.size),
      manager(manager),
      mirrorPool(mirrors),
      configuration(configuration)
{
}

void DownloadFileTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::makeSubtasksAndStart()
{
    const QString target = configuration->tempDir + QLatin1Char('/') + fileName;
    download = new DownloadTaskSpecification(manager, mirrorPool,
                                             section + QLatin1Char('/') + fileName, target, size,
                                             this, 0.8);
    addSubTask(download);
    auto *check = new CheckSignatureTaskSpecification(target, md5, false, this, 0.2);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &DownloadFileTaskSpecification::onSigCheckDone);
    addSubTask(check);

    state = Running;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *)
{
    if (pass)
        return;
    emit message(QStringLiteral("md5 sum for %1 failed, invalidating mirror and retrying")
                         .arg(fileName));
    // Every failed check costs one mirror, so the retries end at the latest
    // when the pool is empty and the next download fails.
    mirrorPool->removeMirror(download->getMirror().name);
    reset();
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::reset()
{
    clearSubTasks();
    download = nullptr;
    TaskSpecification::reset();
}
