#include "makedownloadreplacelistfunc.h"

#include "core/configuration.h"
#include "crypto/checksigfunc.h"
#include "filespecifications.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const QString DeleteSection = QStringLiteral("delete");
const QString FieldSeparator = QStringLiteral("::");

// Product ini names are relative paths below the installation or temporary
// directory. They come from the network: the signature vouches for them, but
// a mistake or a stolen signing key must still not reach outside.
bool isSafePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList components = path.split(QLatin1Char('/'));
    return !components.contains(QStringLiteral(".."));
}

// Whether the file at path has the expected MD5 sum. An empty sum matches
// nothing: handed to the checker it would ask for a signature check instead.
bool hasMd5(const QString &path, const QString &md5)
{
    if (md5.isEmpty() || !QFileInfo::exists(path))
        return false;
    CheckSigFunc check(path, md5);
    return check.run();
}

} // namespace

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(
        const Configuration *configuration, std::shared_ptr<FileSpecifications> results)
    : productIniPath(configuration->tempDir + QLatin1Char('/') + configuration->clientType
                     + QStringLiteral(".ini")),
      installPath(Configuration::getAppRootPath()),
      tempPath(configuration->tempDir),
      results(std::move(results))
{
}

int MakeDownloadReplaceListFunc::getFileCount(QSettings &settings)
{
    int count = 0;
    const QStringList sections = settings.childGroups();
    for (const QString &section : sections) {
        settings.beginGroup(section);
        // Keys with directories are children of subgroups.
        count += int(settings.allKeys().size());
        settings.endGroup();
    }
    return count;
}

bool MakeDownloadReplaceListFunc::run()
{
    results->clear();
    emit message(QStringLiteral("Compiling download and replace list"));

    QSettings settings(productIniPath, QSettings::IniFormat);
    const int total = getFileCount(settings);
    if (total == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }
    if (!checkPaths(settings))
        return false;

    int done = 0;
    const QStringList sections = settings.childGroups();
    for (const QString &section : sections) {
        settings.beginGroup(section);
        const bool ok = readSection(settings, section, done, total);
        settings.endGroup();
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDownloadReplaceListFunc::checkPaths(QSettings &settings)
{
    const auto unsafe = [this](const QString &path, const QString &section) {
        emit message(QStringLiteral("Warning: product ini contains unsafe path %1 in section %2")
                             .arg(path, section));
        return false;
    };

    const QStringList sections = settings.childGroups();
    for (const QString &section : sections) {
        // A section only names a directory on the mirrors, but one that
        // climbs out of the version directory is no release's intent. An
        // empty one would also make the reader list every key of the file.
        if (!isSafePath(section))
            return unsafe(section, section);
        settings.beginGroup(section);
        const QStringList keys = settings.allKeys();
        for (const QString &key : keys) {
            if (!isSafePath(key)) {
                settings.endGroup();
                return unsafe(key, section);
            }
            if (section == DeleteSection)
                continue;
            const QStringList fields =
                    settings.value(key).toString().split(FieldSeparator, Qt::KeepEmptyParts);
            // An empty unpacked name means the file is installed as it is
            // downloaded; a wrong field count is reported when it is listed.
            if (fields.size() == 5 && !fields[4].isEmpty() && !isSafePath(fields[4])) {
                settings.endGroup();
                return unsafe(fields[4], section);
            }
        }
        settings.endGroup();
    }
    return true;
}

bool MakeDownloadReplaceListFunc::readSection(QSettings &settings, const QString &section,
                                              int &done, int total)
{
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        ++done;
        emit progress(qreal(done) / qreal(total));

        if (section == DeleteSection) {
            // Only what is there now is deleted; the values are not read.
            if (QFileInfo::exists(installPath + QLatin1Char('/') + key))
                results->deletes.append(key);
            continue;
        }

        const QStringList fields =
                settings.value(key).toString().split(FieldSeparator, Qt::KeepEmptyParts);
        if (fields.size() != 2 && fields.size() != 5) {
            // The lists so far are not handed on: the whole file is invalid.
            emit message(QStringLiteral("Warning: product ini contains invalid line in section %1")
                                 .arg(section));
            return false;
        }

        FileReplaceSpecification replace;
        replace.section = section;
        replace.fileName = key;
        if (fields.size() == 5) {
            replace.unzipMd5 = fields[2];
            replace.unzipSize = fields[3].toLongLong();
            replace.unzipFileName = fields[4];
        }
        FileDownloadSpecification download;
        download.section = section;
        download.fileName = key;
        download.md5 = fields[0];
        download.size = fields[1].toLongLong();

        // Up to date: the installed copy already is what the release holds.
        const QString installed = installPath + QLatin1Char('/') + replace.pureDestFilePath();
        if (hasMd5(installed, replace.hasUnzip() ? replace.unzipMd5 : download.md5))
            continue;
        results->replaces.append(replace);

        // An intact copy from an earlier, interrupted run need not be fetched again.
        if (hasMd5(tempPath + QLatin1Char('/') + key, download.md5))
            continue;
        results->downloads.append(download);
    }
    return true;
}
