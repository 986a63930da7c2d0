#pragma once

#include "tasks/asyncfunc.h"

#include <QByteArray>
#include <QString>

// Checks one file: against an expected MD5 sum, or, when no sum is given,
// against the RSA signature in the file beside it named path + ".sig".
// Runs on a pool thread inside its task, or directly on the caller's thread.
class CheckSigFunc final : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CheckSigFunc)

public:
    CheckSigFunc(const QString &filePath, const QString &md5);

    bool run() override;

    bool readFile(const QString &path, QByteArray &out);
    bool checkMD5();
    bool checkRSA();

private:
    // Hashes the file as a stream through a fixed buffer, so that memory
    // stays flat however large the file is.
    bool hashFile(int algorithm, QByteArray &digest);

    QString filePath;
    QString md5;
};
