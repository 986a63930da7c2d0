#include "updateinidata.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "core/configuration.h"

namespace {

const QString CurrentGroup = QStringLiteral("current");

} // namespace

QString UpdateIniData::filename()
{
    return QDir(Configuration::getAppRootPath()).filePath(QStringLiteral("update.ini"));
}

bool UpdateIniData::get(int *version, QString *type, QString *dir)
{
    bool versionValid = false;
    int storedVersion = 0;
    QString storedDir;
    QString storedType;
    {
        QSettings settings(filename(), QSettings::IniFormat);
        settings.beginGroup(CurrentGroup);
        storedVersion = settings.value(QStringLiteral("version")).toInt(&versionValid);
        storedDir = settings.value(QStringLiteral("dir")).toString();
        storedType = settings.value(QStringLiteral("type")).toString();
        settings.endGroup();
    }

    if (!versionValid || storedType.isEmpty() || storedDir.isEmpty()
        || !QFileInfo::exists(storedDir)) {
        return false;
    }
    if (version)
        *version = storedVersion;
    if (type)
        *type = storedType;
    if (dir)
        *dir = storedDir;
    return true;
}

void UpdateIniData::modify(int version, const QString &dir, const QString &type)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(CurrentGroup);
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("type"), type);
    settings.endGroup();
    settings.sync();
}

void UpdateIniData::cleanup()
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.remove(CurrentGroup);
    settings.sync();
}
