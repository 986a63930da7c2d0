#include "fileunzipfunc.h"

#include <QFile>

#include <zlib.h>

namespace {
constexpr int bufferSize = 16384;
}

FileUnzipFunc::FileUnzipFunc(const QString &source, const QString &destination)
    : SlowFileOpFunc(source, destination)
{
}

bool FileUnzipFunc::run()
{
    return unzipFile(destPath, sourcePath);
}

bool FileUnzipFunc::unzipFile(const QString &outPath, const QString &gzPath)
{
    // The file system's own encoding: the temporary directory may lie below
    // a home directory whose name is not Latin-1.
    const QByteArray gzName = QFile::encodeName(gzPath);

    // Only a file this function created may be deleted when it fails, and
    // only such a file may be journalled as created: never replace one.
    QFile out(outPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;

    gzFile gz = gzopen(gzName.constData(), "rb");
    if (!gz) {
        out.close();
        out.remove();
        return false;
    }
    gzrewind(gz);

    char buffer[bufferSize];
    for (;;) {
        const int n = gzread(gz, buffer, bufferSize);
        if (n == 0) {
            // zlib ends a stream cut short like a complete one and only
            // records the fact; such an unpack is a failure.
            int errnum = Z_OK;
            gzerror(gz, &errnum);
            gzclose(gz);
            out.close();
            if (errnum != Z_OK || out.error() != QFileDevice::NoError) {
                out.remove();
                return false;
            }
            return true;
        }
        if (n < 0 || out.write(buffer, n) != n) {
            gzclose(gz);
            out.close();
            out.remove();
            return false;
        }
    }
}
