#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

// What `pack` is asked to do.
struct PackOptions
{
    QString keyPath;
    QString type;
    int version = -1;
    QString fromDir;
    QString mirrorRoot;
    // Empty: the update type, so that a version directory can hold the
    // releases of several client types side by side.
    QString section;
    QString previousDir;
    QStringList gzipPatterns;
    QString changelog;
};

// Lays out one release as the mirrors serve it: MIRROR_ROOT/VERSION/ with the
// product files under the section directory, the product ini TYPE.ini, its
// signature TYPE.ini.sig and, when given, changelog_client.txt. The version
// directory appears only once it is complete.
class ReleasePacker final
{
public:
    ReleasePacker(const PackOptions &options, QTextStream &out);

    // Throws ReleaseError on bad input or a failed step; nothing is left
    // under the mirror root then.
    void run();

private:
    // One file of the release and how the mirror holds it.
    struct Entry
    {
        QString path;          // relative path in the release and the installation
        QString key;           // relative path on the mirror: path, or path + ".gz"
        bool gzip = false;
        QString md5;           // of the file as stored on the mirror
        qint64 size = 0;
        QString unpackedMd5;   // of the original, for compressed files
        qint64 unpackedSize = 0;

        QString value() const;
    };

    void validate();
    void planEntries();
    void planDeletes();
    void storeFiles(const QString &stage);
    void writeProductIni(const QString &iniPath);
    void checkProductIni(const QString &iniPath);
    void signProductIni(const QString &iniPath);
    void printSummary(const QString &target);
    void progress(int done, qint64 bytesDone, bool force);

    PackOptions options;
    QTextStream &out;
    QList<Entry> entries;
    QStringList deletes;
    qint64 totalBytes = 0;
    QElapsedTimer progressTimer;
    bool progressShown = false;
};
