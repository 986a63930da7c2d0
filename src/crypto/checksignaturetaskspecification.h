#pragma once

#include "tasks/asynctaskspecification.h"

// Checks one file on the thread pool (MD5 sum, or the RSA signature beside
// it when no sum is given) and reports the verdict through checkDone before
// it ends.
class CheckSignatureTaskSpecification final : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CheckSignatureTaskSpecification)

public:
    // With cancelOnFailure false a failed check still finishes the task, and
    // the caller reacts to checkDone(false, ...).
    CheckSignatureTaskSpecification(const QString &filePath, const QString &md5,
                                    bool cancelOnFailure, QObject *parent, double weight);

    const QString &getFilePath() const { return filePath; }

signals:
    void checkDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    ASyncFunc *createFunction() override;
    void runDone(bool pass) override;

private:
    QString filePath;
    QString md5;
    bool cancelOnFailure;
};
