#pragma once

#include "download/filespecifications.h"
#include "tasks/composedtaskspecification.h"

class Configuration;
class Mirrors;
class QNetworkAccessManager;

// The whole update as five stages run one after another: fetch and verify
// the product ini, derive the lists, download, install, delete.
class MainTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainTaskSpecification)

public:
    MainTaskSpecification(QNetworkAccessManager *manager, Mirrors *mirrors,
                          Configuration *configuration, QObject *parent, double weight);

    const FileSpecifications &getFileSpecifications() const { return fileSpecifications; }

public slots:
    void execute() override;
    void reset() override;

private:
    void makeSubtasksAndStart();

    QNetworkAccessManager *manager;
    Mirrors *mirrorPool;
    Configuration *configuration;
    // The three lists the stages share.
    FileSpecifications fileSpecifications;
};
