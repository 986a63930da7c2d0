#pragma once

#include "rollbackdata.h"

#include <QList>

class QObject;

// The in-memory undo journal of a replacement: records in the order the
// changes were made, undone last first.
class RollbackDataList
{
public:
    RollbackDataList() = default;

    void add(const RollbackData &data);
    // Forgets the records without undoing anything.
    void clear();
    // Appends other's records after the own ones; other keeps its records.
    void appendList(const RollbackDataList &other);

    // Undoes every record, last first, and always to the end: a failed undo
    // leaves its warning and the rest still run. The journal is empty
    // afterwards; true if every undo succeeded.
    bool rollback(QObject *reporter);

    const QList<RollbackData> &getRecords() const { return records; }
    bool isEmpty() const { return records.isEmpty(); }

private:
    QList<RollbackData> records;
};
