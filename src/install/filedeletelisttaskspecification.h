#pragma once

#include "tasks/composedtaskspecification.h"

#include <QList>
#include <QString>

// The deletion stage of an update: deletes every file of the delete list,
// one at a time and best effort. It runs only after a complete replacement
// stage.
class FileDeleteListTaskSpecification final : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileDeleteListTaskSpecification)

public:
    // The list is borrowed and read only when the stage executes.
    FileDeleteListTaskSpecification(QList<QString> *deleteList, QObject *parent, double weight);

public slots:
    void execute() override;
    void reset() override;

private:
    void makeSubtasksAndStart();

    QList<QString> *deleteList;
};
