#pragma once

#include "slowfileopfunc.h"

// Copies sourcePath to destPath on a worker thread; never overwrites.
class FileCopyFunc final : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileCopyFunc)

public:
    FileCopyFunc(const QString &source, const QString &destination);

    bool run() override;
};
