#include "maintaskspecification.h"

#include "download/downloadfilelisttaskspecification.h"
#include "download/inidownloadtaskspecification.h"
#include "download/makedownloadreplacelisttaskspecification.h"
#include "install/filedeletelisttaskspecification.h"
#include "install/filereplacelisttaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager *manager, Mirrors *mirrors,
                                             Configuration *configuration, QObject *parent,
                                             double weight)
    : ComposedTaskSpecification(1, weight, parent),
      manager(manager),
      mirrorPool(mirrors),
      configuration(configuration)
{
}

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process"));
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    addSubTask(new IniDownloadTaskSpecification(manager, mirrorPool, configuration, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, fileSpecifications,
                                                            this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(&fileSpecifications.downloads, manager,
                                                     mirrorPool, configuration, this, 0.4));
    addSubTask(new FileReplaceListTaskSpecification(&fileSpecifications.replaces,
                                                    &fileSpecifications.deletes, configuration,
                                                    this, 0.4));
    addSubTask(new FileDeleteListTaskSpecification(&fileSpecifications.deletes, this, 0.05));
    state = Running;
    executeSubTasks();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    fileSpecifications.clear();
    TaskSpecification::reset();
}
