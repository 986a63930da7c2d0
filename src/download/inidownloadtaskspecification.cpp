#include "inidownloadtaskspecification.h"

#include "core/configuration.h"
#include "crypto/checksignaturetaskspecification.h"
#include "download/downloadtaskspecification.h"

#include <QFileInfo>

namespace {

constexpr int MaxFailedChecks = 1000;
constexpr double DownloadWeight = 0.3333;

} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager *manager,
                                                           Mirrors *mirrors,
                                                           Configuration *configuration,
                                                           QObject *parent, double weight)
    : ComposedTaskSpecification(1, weight, parent),
      manager(manager),
      mirrorPool(mirrors),
      configuration(configuration)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString iniName = configuration->clientType + QStringLiteral(".ini");
    const QString sigName = iniName + QStringLiteral(".sig");
    const QString localIni = configuration->tempDir + QLatin1Char('/') + iniName;
    const QString localSig = localIni + QStringLiteral(".sig");

    double checkWeight = 1.0;
    // Copies in the temporary directory come from an interrupted run of the
    // same version; they are trusted only as far as the check below.
    if (failedChecks >= 1 || !QFileInfo::exists(localIni)) {
        auto *download = new DownloadTaskSpecification(manager, mirrorPool, iniName, localIni, -1,
                                                        this, DownloadWeight);
        download->setSizeLimit(MaxProductIniSize);
        addSubTask(download);
        checkWeight = 0.6667;
    }
    if (failedChecks >= 1 || !QFileInfo::exists(localSig)) {
        auto *download = new DownloadTaskSpecification(manager, mirrorPool, sigName, localSig, -1,
                                                        this, DownloadWeight);
        download->setSizeLimit(MaxSignatureSize);
        addSubTask(download);
        checkWeight -= DownloadWeight;
    }
    auto *check = new CheckSignatureTaskSpecification(localIni, QString(), false, this,
                                                      checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &IniDownloadTaskSpecification::onSigCheckDone);
    addSubTask(check);

    state = Running;
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *)
{
    if (pass)
        return;
    const int failed = failedChecks + 1;
    failedChecks = failed;
    if (failedChecks > MaxFailedChecks) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        // The check task still finishes after this signal; its end must not
        // end this task a second time.
        doneReported = true;
        errorCancel();
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    reset();
    failedChecks = failed;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    failedChecks = 0;
    TaskSpecification::reset();
}
