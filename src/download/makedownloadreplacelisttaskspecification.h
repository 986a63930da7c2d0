#pragma once

#include "tasks/asynctaskspecification.h"

#include <memory>

class Configuration;
class FileSpecifications;

// Compares the verified product ini with the installation and the temporary
// directory on the thread pool and, when that succeeds, hands the download,
// replace and delete lists to the caller's lists.
class MakeDownloadReplaceListTaskSpecification final : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MakeDownloadReplaceListTaskSpecification)

public:
    MakeDownloadReplaceListTaskSpecification(Configuration *configuration, FileSpecifications &target,
                                             QObject *parent, double weight);
    ~MakeDownloadReplaceListTaskSpecification() override;

protected:
    ASyncFunc *createFunction() override;
    void runDone(bool ok) override;

private:
    Configuration *configuration;
    // The caller's lists; written only when a run succeeds.
    FileSpecifications *target;
    // Filled by the function of the current run. It is shared with that
    // function, so that a task destroyed while its function still runs does
    // not leave the worker writing into freed memory.
    std::shared_ptr<FileSpecifications> results;
};
