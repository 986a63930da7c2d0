#pragma once

#include "slowfileopfunc.h"

// Unpacks the gzip file sourcePath into the new file destPath on a worker
// thread, streaming through a fixed buffer.
class FileUnzipFunc final : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileUnzipFunc)

public:
    FileUnzipFunc(const QString &source, const QString &destination);

    bool run() override;

    // Creates outPath, which must not exist yet, and fills it with the
    // unpacked content of gzPath. On failure no output is left behind.
    bool unzipFile(const QString &outPath, const QString &gzPath);
};
