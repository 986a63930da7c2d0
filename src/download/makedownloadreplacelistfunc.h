#pragma once

#include "tasks/asyncfunc.h"

#include <QString>

#include <memory>

class Configuration;
class FileSpecifications;
class QSettings;

// Reads the product ini in the temporary directory and derives what to
// download, what to replace in the installation and what to delete from it.
// Runs on a worker thread; its task reads the lists only after the result.
class MakeDownloadReplaceListFunc final : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MakeDownloadReplaceListFunc)

public:
    // Takes its own copies of the paths it needs from the configuration, so
    // that the worker never reads the configuration.
    MakeDownloadReplaceListFunc(const Configuration *configuration,
                                std::shared_ptr<FileSpecifications> results);

    bool run() override;

    // The number of keys in all sections; keys outside any section are not
    // counted.
    static int getFileCount(QSettings &settings);

private:
    // Rejects a product ini that names a file outside the installation or
    // temporary directory, before anything is listed.
    bool checkPaths(QSettings &settings);
    bool readSection(QSettings &settings, const QString &section, int &done, int total);

    QString productIniPath;
    QString installPath;
    QString tempPath;
    std::shared_ptr<FileSpecifications> results;
};
