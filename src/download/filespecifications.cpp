#include "filespecifications.h"

#include "core/configuration.h"

#include <QFileInfo>

QString FileReplaceSpecification::destFileName(const QString &prefix) const
{
    const QString path = pureDestFilePath();
    if (prefix.isEmpty())
        return path;
    const QFileInfo info(path);
    const QString directory = info.path();
    const QString name = prefix + info.fileName();
    return directory == QLatin1String(".") ? name : directory + QLatin1Char('/') + name;
}

QString FileReplaceSpecification::oldDestFileName() const
{
    return destFileName(Configuration::getSpecialFileRenamePrefix());
}

void FileSpecifications::clear()
{
    downloads.clear();
    replaces.clear();
    deletes.clear();
}
