#pragma once

#include <QString>

// The session record: the [current] group of update.ini, remembering the
// temporary directory of an update session together with its target version
// and client type. Nothing is kept in memory; every call opens the file anew.
class UpdateIniData final
{
public:
    static QString filename();
    // True only for a valid record; only then are the non-null outputs set.
    static bool get(int *version, QString *type, QString *dir);
    static void modify(int version, const QString &dir, const QString &type);
    static void cleanup();

private:
    UpdateIniData() = delete;
};
