#include "rollbackdatalist.h"

void RollbackDataList::add(const RollbackData &data)
{
    records.append(data);
}

void RollbackDataList::clear()
{
    records.clear();
}

void RollbackDataList::appendList(const RollbackDataList &other)
{
    records.append(other.records);
}

bool RollbackDataList::rollback(QObject *reporter)
{
    bool result = true;
    while (!records.isEmpty()) {
        const RollbackData data = records.takeLast();
        if (!data.rollback(reporter))
            result = false;
    }
    return result;
}
