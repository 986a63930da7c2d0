#include "mirrors.h"

#include <QSettings>

#include "core/randomsource.h"

namespace {

QString versionUrl(QString address, int versionNumber)
{
    if (!address.endsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    return address + QString::number(versionNumber);
}

} // namespace

Mirrors::Mirrors(QObject *parent)
    : QObject(parent)
{
}

bool Mirrors::initDefault(const QString &mirrorsIniPath, int versionNumber)
{
    QSettings settings(mirrorsIniPath, QSettings::IniFormat);
    const int size = settings.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        FTPSiteAccessData mirror;
        mirror.name = settings.value(QStringLiteral("mirror")).toString();
        mirrors.append(mirror);
    }
    settings.endArray();
    setDefaults(settings, versionNumber);
    // An empty list is not an error here: it shows when the first download
    // finds no mirror.
    return true;
}

void Mirrors::setDefaults(QSettings &settings, int versionNumber)
{
    for (FTPSiteAccessData &mirror : mirrors) {
        settings.beginGroup(mirror.name);
        const QString address = settings.value(QStringLiteral("url")).toString();
        // Web servers take several downloads at once; anything else gets one.
        if (address.left(7).toUpper() == QLatin1String("HTTP://")
            || address.left(8).toUpper() == QLatin1String("HTTPS://"))
            mirror.maxUseCount = 3;
        mirror.url = versionUrl(address, versionNumber);
        bool ok = false;
        const int retries = settings.value(QStringLiteral("retries"), 2).toString().toInt(&ok);
        mirror.retries = (ok && retries >= 1) ? retries : 2;
        settings.endGroup();
    }
}

bool Mirrors::initAlpha(const QString &updateIniPath, int versionNumber)
{
    const QSettings settings(updateIniPath, QSettings::IniFormat);
    const QString address = settings.value(QStringLiteral("Channel/alpha")).toString();
    if (address.isEmpty()) {
        emit fatalError(QStringLiteral("Alpha parameter in channel section in update ini file not found"));
        return false;
    }
    FTPSiteAccessData mirror;
    mirror.name = QStringLiteral("Alpha Channel");
    mirror.url = versionUrl(address, versionNumber);
    // The alpha builds have one source only, so it is given more patience.
    mirror.retries = 4;
    mirrors.append(mirror);
    return true;
}

int Mirrors::getRandomMirror(FTPSiteAccessData &out)
{
    if (mirrors.isEmpty()) {
        if (!noMirrorsReported) {
            emit message(tr("There are no (more) known working mirrors available"));
            noMirrorsReported = true;
        }
        return 1;
    }
    int maxTotal = 0;
    int useTotal = 0;
    calcUseStats(maxTotal, useTotal);
    if (useTotal >= maxTotal)
        return 2;

    // Every free slot of the pool is equally likely, so a mirror is chosen
    // in proportion to the downloads it can still take.
    int r = RandomSource::bounded(maxTotal - useTotal);
    for (FTPSiteAccessData &mirror : mirrors) {
        r -= mirror.maxUseCount - mirror.useCount;
        if (r < 0) {
            ++mirror.useCount;
            out = mirror;
            return 0;
        }
    }
    return 1;
}

void Mirrors::releaseMirror(const QString &name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        --mirrors[index].useCount;
}

void Mirrors::addMirrorError(const QString &name)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return;
    FTPSiteAccessData &mirror = mirrors[index];
    ++mirror.errorCount;
    if (mirror.errorCount > mirror.retries) {
        emit message(tr("Mirror %1 failed too many times, removing").arg(mirror.name));
        mirrors.removeAt(index);
    }
}

void Mirrors::removeMirror(const QString &name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        mirrors.removeAt(index);
}

int Mirrors::getMirrorIndex(const QString &name) const
{
    for (int i = 0; i < mirrors.size(); ++i) {
        if (mirrors.at(i).name == name)
            return i;
    }
    return -1;
}

void Mirrors::calcUseStats(int &maxTotal, int &useTotal) const
{
    maxTotal = 0;
    useTotal = 0;
    for (const FTPSiteAccessData &mirror : mirrors) {
        maxTotal += mirror.maxUseCount;
        useTotal += mirror.useCount;
    }
}
