#include "processtools.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include "core/configuration.h"

void ProcessTools::startHvxClient()
{
    const QString program =
            Configuration::getAppRootPath() + QLatin1Char('/') + Configuration::getClientBinaryName();
    QProcess::startDetached(program, QStringList());
}
