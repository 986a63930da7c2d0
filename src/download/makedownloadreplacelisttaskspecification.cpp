#include "makedownloadreplacelisttaskspecification.h"

#include "filespecifications.h"
#include "makedownloadreplacelistfunc.h"

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
        Configuration *configuration, FileSpecifications &target, QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight),
      configuration(configuration),
      target(&target),
      results(std::make_shared<FileSpecifications>())
{
}

MakeDownloadReplaceListTaskSpecification::~MakeDownloadReplaceListTaskSpecification() = default;

ASyncFunc *MakeDownloadReplaceListTaskSpecification::createFunction()
{
    // Each run fills lists of its own; those of an earlier run may still be
    // held by its function until the pool has deleted it.
    results = std::make_shared<FileSpecifications>();
    return new MakeDownloadReplaceListFunc(configuration, results);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool ok)
{
    // A result that arrives after a reset belongs to an abandoned run and
    // must not overwrite lists that a later stage may already use.
    if (ok && state == Running) {
        target->downloads = results->downloads;
        target->replaces = results->replaces;
        target->deletes = results->deletes;
    }
    ASyncTaskSpecification::runDone(ok);
}
