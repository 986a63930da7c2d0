#pragma once

#include "tasks/composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class Mirrors;
class QNetworkAccessManager;

// Brings the product ini and its signature into the temporary directory and
// verifies the signature against the built-in key. Copies left by an earlier
// run of the same version are used as they are at first; after a failed
// verification both files are fetched afresh.
class IniDownloadTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IniDownloadTaskSpecification)

public:
    // Nothing legitimate comes near these sizes; a mirror sending more is
    // streaming garbage.
    static constexpr qint64 MaxProductIniSize = 64 * 1024 * 1024;
    static constexpr qint64 MaxSignatureSize = 4 * 1024;

    IniDownloadTaskSpecification(QNetworkAccessManager *manager, Mirrors *mirrors,
                                 Configuration *configuration, QObject *parent, double weight);

    int getFailedChecks() const { return failedChecks; }

public slots:
    void execute() override;
    void reset() override;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

private:
    void makeSubtasksAndStart();

    QNetworkAccessManager *manager;
    Mirrors *mirrorPool;
    Configuration *configuration;
    int failedChecks = 0;
};
