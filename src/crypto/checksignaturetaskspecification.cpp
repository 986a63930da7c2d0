#include "checksignaturetaskspecification.h"

#include "crypto/checksigfunc.h"

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString &filePath,
                                                                 const QString &md5,
                                                                 bool cancelOnFailure,
                                                                 QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight),
      filePath(filePath),
      md5(md5),
      cancelOnFailure(cancelOnFailure)
{
}

ASyncFunc *CheckSignatureTaskSpecification::createFunction()
{
    return new CheckSigFunc(filePath, md5);
}

void CheckSignatureTaskSpecification::runDone(bool pass)
{
    // A task reset while its function ran has been restarted or discarded:
    // the verdict belongs to nobody.
    if (state != Running)
        return;
    // checkDone comes before the state changes, so that its receiver can
    // still reset and restart the parent.
    if (pass) {
        emit checkDone(true, this);
        finish();
        return;
    }
    emit message(QStringLiteral("Signature check failed for %1").arg(filePath));
    emit checkDone(false, this);
    if (cancelOnFailure)
        errorCancel();
    else
        finish();
}
