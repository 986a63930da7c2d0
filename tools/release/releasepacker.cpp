#include "releasepacker.h"

#include "releaseerror.h"
#include "releasefiles.h"
#include "releasekey.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMap>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <fnmatch.h>
#include <zlib.h>

#include <memory>

namespace {

constexpr qint64 BufferSize = 1024 * 1024;
const QString DeleteSection = QStringLiteral("delete");
const QString ChangelogName = QStringLiteral("changelog_client.txt");

// The updater splits a value at this separator.
const QString FieldSeparator = QStringLiteral("::");

struct Digest
{
    QString md5;
    qint64 size = 0;
};

// Copies source to target (or compresses it into target) and returns the MD5
// sum and size of what was read.
Digest copyFile(const QString &source, const QString &target, bool gzip)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw ReleaseError(QStringLiteral("cannot read %1: %2").arg(source, in.errorString()));
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        throw ReleaseError(QStringLiteral("cannot create directory for %1").arg(target));

    QFile plain(target);
    gzFile packed = nullptr;
    if (gzip) {
        packed = gzopen(QFile::encodeName(target).constData(), "wb9");
        if (packed == nullptr)
            throw ReleaseError(QStringLiteral("cannot write %1").arg(target));
    } else if (!plain.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw ReleaseError(QStringLiteral("cannot write %1: %2").arg(target, plain.errorString()));
    }

    QCryptographicHash md5(QCryptographicHash::Md5);
    const std::unique_ptr<char[]> buffer(new char[BufferSize]);
    qint64 size = 0;
    QString failure;
    for (;;) {
        const qint64 got = in.read(buffer.get(), BufferSize);
        if (got < 0) {
            failure = QStringLiteral("cannot read %1: %2").arg(source, in.errorString());
            break;
        }
        if (got == 0)
            break;
        md5.addData(QByteArrayView(buffer.get(), got));
        size += got;
        const bool written = gzip ? gzwrite(packed, buffer.get(), unsigned(got)) == int(got)
                                  : plain.write(buffer.get(), got) == got;
        if (!written) {
            failure = QStringLiteral("cannot write %1").arg(target);
            break;
        }
    }
    if (gzip) {
        if (gzclose(packed) != Z_OK && failure.isEmpty())
            failure = QStringLiteral("cannot write %1").arg(target);
    } else if (!plain.flush() && failure.isEmpty()) {
        failure = QStringLiteral("cannot write %1: %2").arg(target, plain.errorString());
    }
    if (!failure.isEmpty())
        throw ReleaseError(failure);
    return {QString::fromLatin1(md5.result().toHex()), size};
}

Digest hashFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ReleaseError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!md5.addData(&file))
        throw ReleaseError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return {QString::fromLatin1(md5.result().toHex()), file.size()};
}

bool matchesAny(const QString &name, const QStringList &patterns, QSet<QString> &used)
{
    const QByteArray encoded = QFile::encodeName(name);
    bool matched = false;
    for (const QString &pattern : patterns) {
        if (fnmatch(QFile::encodeName(pattern).constData(), encoded.constData(), 0) == 0) {
            used.insert(pattern);
            matched = true;
        }
    }
    return matched;
}

// The updater asks the mirrors for a file by a URL made of the section and
// the path as they are: "#" and "?" would end the path and "%" would start an
// escape, so such a file could never be fetched.
QString urlProblem(const QString &name)
{
    for (const QChar c : name) {
        if (c == u'#' || c == u'?' || c == u'%')
            return QStringLiteral("the character '%1' cannot be part of a download URL").arg(c);
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("control characters cannot be part of a download URL");
    }
    return {};
}

QString formatBytes(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

QString ReleasePacker::Entry::value() const
{
    QStringList fields {md5, QString::number(size)};
    if (gzip)
        fields << unpackedMd5 << QString::number(unpackedSize) << path;
    return fields.join(FieldSeparator);
}

ReleasePacker::ReleasePacker(const PackOptions &options, QTextStream &out)
    : options(options), out(out)
{
    if (this->options.section.isEmpty())
        this->options.section = this->options.type;
}

void ReleasePacker::run()
{
    validate();
    ReleaseKey key;
    key.loadFile(options.keyPath);
    if (!key.isPrivate()) {
        throw ReleaseError(QStringLiteral("key file %1 holds a public key; pack signs with the "
                                          "private key")
                               .arg(options.keyPath));
    }
    if (!key.matchesBuiltIn()) {
        out << "warning: " << options.keyPath
            << " is not the key pair built into this updater; only updaters built with "
               "HALVEX_PUBLIC_KEY set to its public half accept this release\n";
    }

    planEntries();
    planDeletes();

    const QString versionName = QString::number(options.version);
    if (!QDir().mkpath(options.mirrorRoot))
        throw ReleaseError(QStringLiteral("cannot create mirror root %1").arg(options.mirrorRoot));
    const QString target = QDir(options.mirrorRoot).filePath(versionName);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        throw ReleaseError(QStringLiteral("%1 already exists; a published version is never "
                                          "overwritten (remove it or pick another version)")
                               .arg(target));
    }

    // Everything is made in a hidden directory beside the target and renamed
    // into place at the end, so that a mirror never serves half a release.
    QTemporaryDir stage(QDir(options.mirrorRoot).filePath(QStringLiteral(".%1.incomplete-XXXXXX").arg(versionName)));
    if (!stage.isValid())
        throw ReleaseError(QStringLiteral("cannot create a directory in %1: %2")
                               .arg(options.mirrorRoot, stage.errorString()));

    storeFiles(stage.path());
    const QString iniPath = QDir(stage.path()).filePath(options.type + QStringLiteral(".ini"));
    writeProductIni(iniPath);
    checkProductIni(iniPath);
    const QByteArray ini = ReleaseFiles::readAll(iniPath);
    const QByteArray signature = key.sign(ini);
    if (!key.verify(ini, signature))
        throw ReleaseError(QStringLiteral("the new signature does not verify; nothing published"));
    ReleaseFiles::writeNew(iniPath + QStringLiteral(".sig"), signature);
    if (!options.changelog.isEmpty()) {
        const QString changelog = QDir(stage.path()).filePath(ChangelogName);
        if (!QFile::copy(options.changelog, changelog))
            throw ReleaseError(QStringLiteral("cannot copy changelog %1").arg(options.changelog));
    }

    // The temporary directory is private to its owner; the web server must
    // be able to read the published one.
    QFile::setPermissions(stage.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                            | QFile::ReadGroup | QFile::ExeGroup
                                            | QFile::ReadOther | QFile::ExeOther);
    if (!QDir().rename(stage.path(), target))
        throw ReleaseError(QStringLiteral("cannot move the release into %1").arg(target));
    stage.setAutoRemove(false);
    printSummary(target);
    out << "  signature: " << options.type << ".ini.sig (" << signature.size() << " bytes, "
        << key.modulusBits() << "-bit key)\n";
}

void ReleasePacker::validate()
{
    const QString &type = options.type;
    if (type.isEmpty() || type == QLatin1String(".") || type == QLatin1String("..")
        || type.contains(QLatin1Char('/')) || type.contains(QLatin1Char('\\'))) {
        throw ReleaseError(QStringLiteral("update type '%1' must be a plain file name, such as "
                                          "client_linux_x86")
                               .arg(type));
    }
    const QString &section = options.section;
    if (section == QLatin1String(".") || section == QLatin1String("..")
        || section.contains(QLatin1Char('/')) || section.contains(QLatin1Char('\\'))) {
        throw ReleaseError(QStringLiteral("section '%1' must be a plain directory name").arg(section));
    }
    const QString sectionProblem = urlProblem(section);
    if (!sectionProblem.isEmpty())
        throw ReleaseError(QStringLiteral("section '%1': %2").arg(section, sectionProblem));
    // "delete" lists files to remove, and the settings reader files keys of
    // "General" outside every section, where the updater never looks.
    if (section == DeleteSection || section.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0)
        throw ReleaseError(QStringLiteral("section '%1' is reserved; choose another").arg(section));
    if (options.version < 0)
        throw ReleaseError(QStringLiteral("version must be a decimal number"));
    ReleaseFiles::requireDirectory(options.fromDir, QStringLiteral("release directory"));
    if (!options.previousDir.isEmpty())
        ReleaseFiles::requireDirectory(options.previousDir, QStringLiteral("previous release directory"));
    if (!options.changelog.isEmpty() && !QFileInfo(options.changelog).isFile())
        throw ReleaseError(QStringLiteral("changelog %1 does not exist or is not a file").arg(options.changelog));
}

void ReleasePacker::planEntries()
{
    const QStringList files = ReleaseFiles::listFiles(options.fromDir);
    if (files.isEmpty())
        throw ReleaseError(QStringLiteral("release directory %1 holds no files").arg(options.fromDir));

    QSet<QString> usedPatterns;
    QHash<QString, QString> keyOwner;
    for (const QString &path : files) {
        // The settings writer takes a backslash for a directory separator.
        if (path.contains(QLatin1Char('\\')))
            throw ReleaseError(QStringLiteral("%1: file names with a backslash cannot be published").arg(path));
        const QString problem = urlProblem(path);
        if (!problem.isEmpty())
            throw ReleaseError(QStringLiteral("%1: %2; rename the file").arg(path, problem));
        Entry entry;
        entry.path = path;
        entry.gzip = matchesAny(QFileInfo(path).fileName(), options.gzipPatterns, usedPatterns);
        entry.key = entry.gzip ? path + QStringLiteral(".gz") : path;
        if (entry.gzip && path.contains(FieldSeparator)) {
            throw ReleaseError(QStringLiteral("%1: a compressed file's name must not contain \"::\" "
                                              "(it is part of the product ini value)")
                                   .arg(path));
        }
        // The updater downloads every file to its temporary directory under
        // the key, beside the product ini and its signature.
        if (entry.key == options.type + QStringLiteral(".ini")
            || entry.key == options.type + QStringLiteral(".ini.sig")) {
            throw ReleaseError(QStringLiteral("%1 would overwrite the product ini in the updater's "
                                              "temporary directory; move it into a subdirectory")
                                   .arg(path));
        }
        if (keyOwner.contains(entry.key)) {
            throw ReleaseError(QStringLiteral("%1 and %2 would both be stored as %3")
                                   .arg(keyOwner.value(entry.key), path, entry.key));
        }
        keyOwner.insert(entry.key, path);
        entries.append(entry);
    }
    for (const QString &pattern : options.gzipPatterns) {
        if (!usedPatterns.contains(pattern))
            out << "warning: --gzip " << pattern << " matches no file\n";
    }
}

void ReleasePacker::planDeletes()
{
    if (options.previousDir.isEmpty())
        return;
    QSet<QString> current;
    for (const Entry &entry : std::as_const(entries))
        current.insert(entry.path);
    const QStringList previous = ReleaseFiles::listFiles(options.previousDir);
    for (const QString &path : previous) {
        if (current.contains(path))
            continue;
        if (path.contains(QLatin1Char('\\'))) {
            throw ReleaseError(QStringLiteral("%1 (previous release): file names with a backslash "
                                              "cannot be listed for deletion")
                                   .arg(path));
        }
        deletes.append(path);
    }
}

void ReleasePacker::progress(int done, qint64 bytesDone, bool force)
{
    // Quiet for small releases: the first line comes after a second of work.
    if (!force && !progressTimer.hasExpired(1000))
        return;
    progressTimer.restart();
    progressShown = true;
    out << "  " << done << " of " << entries.size() << " files, " << formatBytes(bytesDone)
        << " of " << formatBytes(totalBytes) << "\n";
    out.flush();
}

void ReleasePacker::storeFiles(const QString &stage)
{
    const QDir sectionDir(QDir(stage).filePath(options.section));
    const QDir from(options.fromDir);
    totalBytes = 0;
    for (const Entry &entry : std::as_const(entries))
        totalBytes += QFileInfo(from.filePath(entry.path)).size();

    progressTimer.start();
    progressShown = false;
    qint64 bytesDone = 0;
    for (int i = 0; i < entries.size(); ++i) {
        Entry &entry = entries[i];
        const QString source = from.filePath(entry.path);
        const QString target = sectionDir.filePath(entry.key);
        const Digest original = copyFile(source, target, entry.gzip);
        if (entry.gzip) {
            const Digest stored = hashFile(target);
            entry.md5 = stored.md5;
            entry.size = stored.size;
            entry.unpackedMd5 = original.md5;
            entry.unpackedSize = original.size;
        } else {
            entry.md5 = original.md5;
            entry.size = original.size;
        }
        bytesDone += original.size;
        progress(i + 1, bytesDone, false);
    }
    // A release large enough to have shown progress also shows its end.
    if (progressShown)
        progress(int(entries.size()), bytesDone, true);
}

void ReleasePacker::writeProductIni(const QString &iniPath)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.beginGroup(options.section);
    for (const Entry &entry : std::as_const(entries))
        ini.setValue(entry.key, entry.value());
    ini.endGroup();
    if (!deletes.isEmpty()) {
        ini.beginGroup(DeleteSection);
        for (const QString &path : std::as_const(deletes))
            ini.setValue(path, QString());
        ini.endGroup();
    }
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw ReleaseError(QStringLiteral("cannot write %1").arg(iniPath));
}

// Reads the product ini back the way the updater reads it, and insists on
// finding exactly what was meant: a name the settings format cannot carry
// must fail here rather than on every client.
void ReleasePacker::checkProductIni(const QString &iniPath)
{
    QMap<QString, QString> expected;
    for (const Entry &entry : std::as_const(entries))
        expected.insert(options.section + QLatin1Char('\n') + entry.key, entry.value());
    for (const QString &path : std::as_const(deletes))
        expected.insert(DeleteSection + QLatin1Char('\n') + path, QString());

    QMap<QString, QString> found;
    QSettings ini(iniPath, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw ReleaseError(QStringLiteral("cannot read back %1").arg(iniPath));
    const QStringList sections = ini.childGroups();
    for (const QString &section : sections) {
        ini.beginGroup(section);
        const QStringList keys = ini.allKeys();
        for (const QString &key : keys) {
            const QString value = ini.value(key).toString();
            if (section != DeleteSection) {
                const qsizetype fields = value.split(FieldSeparator, Qt::KeepEmptyParts).size();
                if (fields != 2 && fields != 5) {
                    throw ReleaseError(QStringLiteral("%1: the updater would reject the value of %2")
                                           .arg(iniPath, key));
                }
            }
            found.insert(section + QLatin1Char('\n') + key, value);
        }
        ini.endGroup();
    }
    if (found == expected)
        return;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const auto match = found.constFind(it.key());
        if (match == found.cend() || match.value() != it.value()) {
            throw ReleaseError(QStringLiteral("%1 cannot be described in the product ini; rename it")
                                   .arg(it.key().section(QLatin1Char('\n'), 1)));
        }
    }
    throw ReleaseError(QStringLiteral("%1 does not read back as written").arg(iniPath));
}

void ReleasePacker::printSummary(const QString &target)
{
    qint64 stored = 0;
    qint64 packedOriginal = 0;
    qint64 packedStored = 0;
    int packed = 0;
    for (const Entry &entry : std::as_const(entries)) {
        stored += entry.size;
        if (entry.gzip) {
            ++packed;
            packedOriginal += entry.unpackedSize;
            packedStored += entry.size;
        }
    }
    out << "Packed version " << options.version << " of " << options.type << " into " << target << "\n"
        << "  files: " << entries.size() << " in section " << options.section << "\n"
        << "  bytes: " << totalBytes << " (" << formatBytes(totalBytes) << ")\n"
        << "  stored bytes: " << stored << " (" << formatBytes(stored) << "); " << packed
        << " compressed files: " << packedOriginal << " -> " << packedStored << " bytes\n"
        << "  files to delete: " << deletes.size() << "\n";
}
