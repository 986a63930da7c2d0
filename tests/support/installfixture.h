#pragma once

// An installation directory and a session's temporary directory on real disk,
// wired into a Configuration, for tests of the installation stages.

#include "core/configuration.h"
#include "disksnapshot.h"
#include "download/filespecifications.h"
#include "tasks/rollbackdatalist.h"
#include "tasks/taskspecification.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"

namespace InstallFixtureData {

using TestFiles::gzipped;

using TestFiles::md5Of;

inline bool writeFile(const QString &path, const QByteArray &content, int mode)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

} // namespace InstallFixtureData

// Table rows read better with plain literals.
inline QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

class InstallFixture
{
public:
    // Installed files are laid out with this mode, downloads with the other:
    // a file that went through the installation shows which one it got.
    static constexpr int InstalledMode = 0640;
    static constexpr int DownloadedMode = 0604;

    InstallFixture()
    {
        Configuration::setAppRootPath(installDir.path());
        configuration.tempDir = tempDir.path();
    }
    ~InstallFixture() { Configuration::setAppRootPath(QString()); }
    Q_DISABLE_COPY_MOVE(InstallFixture)

    bool isValid() const { return installDir.isValid() && tempDir.isValid(); }

    // "@" stands for the installation directory and "%" for the temporary
    // directory, each with a trailing "/".
    QString expand(QString text) const
    {
        return text.replace(u'@', installDir.path() + u'/').replace(u'%', tempDir.path() + u'/');
    }
    QStringList expand(QStringList texts) const
    {
        for (QString &t : texts)
            t = expand(t);
        return texts;
    }

    // Installed entries: "dir/" or "path=content".
    bool install(const QStringList &entries) const
    {
        for (const QString &entry : entries) {
            const qsizetype eq = entry.indexOf(u'=');
            const bool ok = eq < 0
                    ? QDir(installDir.path()).mkpath(entry)
                    : InstallFixtureData::writeFile(installDir.filePath(entry.left(eq)),
                                                    entry.mid(eq + 1).toUtf8(), InstalledMode);
            if (!ok)
                return false;
        }
        return true;
    }

    // Downloaded files "path=content"; a path ending in ".gz" holds the
    // content gzip-compressed.
    bool download(const QStringList &entries) const
    {
        for (const QString &entry : entries) {
            const qsizetype eq = entry.indexOf(u'=');
            const QString name = entry.left(eq);
            QByteArray content = entry.mid(eq + 1).toUtf8();
            if (name.endsWith(QLatin1String(".gz")))
                content = InstallFixtureData::gzipped(content);
            if (!InstallFixtureData::writeFile(tempDir.filePath(name), content, DownloadedMode))
                return false;
        }
        return true;
    }

    // A replace list entry: "name" installs as downloaded; "name>unpacked"
    // unpacks, expecting the sum of the content given for name in downloads,
    // or a wrong sum when the entry ends in "!".
    static FileReplaceSpecification entry(QString text, const QStringList &downloads)
    {
        FileReplaceSpecification spec;
        spec.section = QStringLiteral("client");
        const bool wrongSum = text.endsWith(u'!');
        if (wrongSum)
            text.chop(1);
        const qsizetype gt = text.indexOf(u'>');
        spec.fileName = gt < 0 ? text : text.left(gt);
        if (gt >= 0) {
            spec.unzipFileName = text.mid(gt + 1);
            QByteArray content = "wrong";
            for (const QString &d : downloads) {
                if (!wrongSum && d.startsWith(spec.fileName + u'='))
                    content = d.mid(spec.fileName.size() + 1).toUtf8();
            }
            spec.unzipMd5 = InstallFixtureData::md5Of(content);
            spec.unzipSize = content.size();
        }
        return spec;
    }

    QStringList snapshot() const { return DiskSnapshot::take(installDir.path()); }

    // The journal with paths relative to the installation directory:
    // "rename from > to", "file path", "dir path".
    QStringList describe(const RollbackDataList &list) const
    {
        const QDir base(installDir.path());
        QStringList lines;
        for (const RollbackData &r : list.getRecords()) {
            switch (r.operation) {
            case RollbackData::Rename:
                lines.append(QStringLiteral("rename %1 > %2")
                                     .arg(base.relativeFilePath(r.oldPath),
                                          base.relativeFilePath(r.path)));
                break;
            case RollbackData::CreateFile:
                lines.append(QStringLiteral("file ") + base.relativeFilePath(r.path));
                break;
            case RollbackData::CreateDir:
                lines.append(QStringLiteral("dir ") + base.relativeFilePath(r.path));
                break;
            }
        }
        return lines;
    }

    QTemporaryDir installDir;
    QTemporaryDir tempDir;
    Configuration configuration;
};

// Records what a task reports and waits for its end.
class TaskRun final : public QObject
{
public:
    explicit TaskRun(TaskSpecification *task) : task(task)
    {
        connect(task, &TaskSpecification::message, this,
                [this](const QString &text) { messages.append(text); });
        connect(task, &TaskSpecification::finished, this, [this] { ++ends; });
        connect(task, &TaskSpecification::canceled, this, [this] { ++ends; });
    }

    // Executes the task and waits until it has ended, then a little longer,
    // so that a second end would be seen too.
    bool run()
    {
        const int before = ends;
        task->execute();
        const bool ended = QTest::qWaitFor([&] { return ends > before; }, 30000);
        QTest::qWait(20);
        return ended;
    }

    QStringList messages;
    int ends = 0;

private:
    TaskSpecification *task;
};
