#pragma once

#include <QList>
#include <QString>

// One file to fetch from the mirrors into the temporary directory.
class FileDownloadSpecification
{
public:
    // The file's directory on the mirrors, below the version directory.
    QString section;
    // Relative path on the mirror and in the temporary directory.
    QString fileName;
    QString md5;
    qint64 size = 0;
};

// One downloaded file to put into the installation.
class FileReplaceSpecification
{
public:
    bool hasUnzip() const { return !unzipFileName.isEmpty(); }
    // The installed path relative to the installation directory.
    QString pureDestFilePath() const { return hasUnzip() ? unzipFileName : fileName; }
    // The installed path with prefix put before its last component.
    QString destFileName(const QString &prefix) const;
    // Where an installed file is set aside while it is being replaced.
    QString oldDestFileName() const;

    QString section;
    QString fileName;
    QString unzipMd5;
    qint64 unzipSize = 0;
    // Empty unless the mirror holds the file gzip-compressed.
    QString unzipFileName;
};

// The three lists derived from the product ini and shared by the stages.
class FileSpecifications
{
public:
    void clear();

    QList<FileDownloadSpecification> downloads;
    QList<FileReplaceSpecification> replaces;
    // Installation-relative paths of files to delete after installing.
    QList<QString> deletes;
};
