#include "latestversionretrybox.h"

#include <QCoreApplication>
#include <QMessageBox>

bool LatestVersionRetryBox::ask()
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("QObject", "Error"),
                    QCoreApplication::translate(
                            "QObject", "Failed to query latest client\nversion from update server."),
                    QMessageBox::Retry | QMessageBox::Abort);
    return box.exec() == QMessageBox::Retry;
}
