#pragma once

#include <QString>

class QObject;

// One change to the disk that can be undone, recorded right after it
// succeeded.
class RollbackData
{
public:
    enum Operation {
        // The file oldPath was moved to the name path.
        Rename = 0,
        CreateFile = 1,
        // Undone only while the directory is empty.
        CreateDir = 2,
    };

    RollbackData(Operation operation, const QString &from, const QString &to);
    RollbackData(Operation operation, const QString &path);

    // Undoes this one change; a failure is reported to reporter as a warning.
    bool rollback(QObject *reporter) const;

    // Sends text through the reporter's message(QString); a null reporter
    // drops it.
    static void message(QObject *reporter, const QString &text);

    friend bool operator==(const RollbackData &a, const RollbackData &b)
    {
        return a.path == b.path && a.oldPath == b.oldPath && a.operation == b.operation;
    }
    friend bool operator!=(const RollbackData &a, const RollbackData &b) { return !(a == b); }

    // What the change produced: the new name, the created file or directory.
    QString path;
    // For a rename, the name the file had before; empty otherwise.
    QString oldPath;
    Operation operation;
};
