#pragma once

#include "asyncfunc.h"

#include <QString>

// A background file operation from a source file to a destination file.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SlowFileOpFunc)

public:
    SlowFileOpFunc(const QString &sourcePath, const QString &destPath);

protected:
    QString sourcePath;
    QString destPath;
};
