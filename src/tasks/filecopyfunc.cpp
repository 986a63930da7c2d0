#include "filecopyfunc.h"

#include <QFile>

FileCopyFunc::FileCopyFunc(const QString &source, const QString &destination)
    : SlowFileOpFunc(source, destination)
{
}

bool FileCopyFunc::run()
{
    // QFile::copy refuses an existing destination and writes through a
    // temporary file, so a failed copy leaves no partial destination.
    return QFile::copy(sourcePath, destPath);
}
