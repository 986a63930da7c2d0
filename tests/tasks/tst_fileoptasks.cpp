#include "disktree.h"
#include "tasks/dircreatetaskspecification.h"
#include "tasks/filecopytaskspecification.h"
#include "tasks/filedeletetaskspecification.h"
#include "tasks/filerenametaskspecification.h"
#include "tasks/fileunziptaskspecification.h"
#include "tasks/rollbackdatalist.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>


namespace {

using TestFiles::gzipped;

// Varied enough not to compress to nothing, and several read buffers long.
QByteArray sample(int size)
{
    QByteArray data;
    data.reserve(size);
    quint32 x = 12345;
    while (data.size() < size) {
        x = x * 1103515245u + 12345u;
        data.append(char('a' + (x >> 16) % 7));
    }
    return data;
}

} // namespace

class tst_FileOpTasks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fastOps_data();
    void fastOps();
    void slowOps_data();
    void slowOps();
    void resultAfterReset_data();
    void resultAfterReset();

private:
    // "@" stands for the temporary directory.
    QString expand(QString text) const { return text.replace(u'@', dir->path() + u'/'); }
    QStringList expand(QStringList texts) const
    {
        for (QString &t : texts)
            t = expand(t);
        return texts;
    }
    QStringList describe(const RollbackDataList &list) const;

    std::unique_ptr<QTemporaryDir> dir;
    QString previousCurrent;
};

void tst_FileOpTasks::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    // Relative paths resolve inside the fixture.
    previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
}

void tst_FileOpTasks::cleanup()
{
    QDir::setCurrent(previousCurrent);
}

QStringList tst_FileOpTasks::describe(const RollbackDataList &list) const
{
    QStringList lines;
    for (const RollbackData &r : list.getRecords()) {
        switch (r.operation) {
        case RollbackData::Rename:
            lines.append(u"rename "_qs + r.oldPath + u' ' + r.path);
            break;
        case RollbackData::CreateFile:
            lines.append(u"file "_qs + r.path);
            break;
        case RollbackData::CreateDir:
            lines.append(u"dir "_qs + r.path);
            break;
        }
    }
    return lines;
}

void tst_FileOpTasks::fastOps_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("arg1");
    QTest::addColumn<QString>("arg2");
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<TaskSpecification::State>("expectedState");
    QTest::addColumn<QStringList>("expectedMessages");
    QTest::addColumn<QStringList>("expectedJournal");
    QTest::addColumn<QStringList>("expectedTree");

    const QStringList none;
    const auto ok = TaskSpecification::Finished;
    const auto failed = TaskSpecification::ErrorCanceled;
    const QString longName(300, u'x');

    QTest::newRow("mkdir existing") << u"mkdir"_qs << u"@i"_qs << QString() << QStringList{ u"i"_qs }
                                    << none << ok << none << none << QStringList{ u"i/"_qs };
    QTest::newRow("mkdir with missing ancestors")
            << u"mkdir"_qs << u"@i/a/b/c"_qs << QString() << QStringList{ u"i"_qs } << none << ok
            << none << QStringList{ u"dir @i/a"_qs, u"dir @i/a/b"_qs, u"dir @i/a/b/c"_qs }
            << QStringList{ u"i/"_qs, u"i/a/"_qs, u"i/a/b/"_qs, u"i/a/b/c/"_qs };
    QTest::newRow("mkdir without directory part")
            << u"mkdir"_qs << u"c"_qs << QString() << none << none << failed
            << QStringList{ u"Could not create dir c"_qs } << none << none;
    QTest::newRow("mkdir over a file")
            << u"mkdir"_qs << u"@x"_qs << QString() << none << QStringList{ u"x"_qs } << failed
            << QStringList{ u"Could not create dir '@x' because it already exists and is not a dir"_qs }
            << none << QStringList{ u"x=x"_qs };
    QTest::newRow("mkdir below a file")
            << u"mkdir"_qs << u"@i/g/h"_qs << QString() << none << QStringList{ u"i"_qs } << failed
            << QStringList{ u"unable to create dir @i/g"_qs } << none << QStringList{ u"i=i"_qs };
    // The ancestor made before the failure stays journalled, so that undoing
    // the stage removes it.
    QTest::newRow("mkdir fails below a created ancestor")
            << u"mkdir"_qs << u"@i/a/"_qs + longName << QString() << QStringList{ u"i"_qs } << none
            << failed << QStringList{ u"unable to create dir @i/a/"_qs + longName }
            << QStringList{ u"dir @i/a"_qs } << QStringList{ u"i/"_qs, u"i/a/"_qs };

    QTest::newRow("delete") << u"delete"_qs << u"@f"_qs << QString() << none
                            << QStringList{ u"f"_qs } << ok << none << none << none;
    QTest::newRow("delete missing, best effort")
            << u"delete-best-effort"_qs << u"@f"_qs << QString() << none << none << ok << none
            << none << none;
    QTest::newRow("delete missing") << u"delete"_qs << u"@f"_qs << QString() << none << none
                                    << failed << QStringList{ u"Could not delete '@f'"_qs } << none
                                    << none;
    QTest::newRow("delete a directory") << u"delete"_qs << u"@d"_qs << QString()
                                        << QStringList{ u"d"_qs } << none << failed
                                        << QStringList{ u"Could not delete '@d'"_qs } << none
                                        << QStringList{ u"d/"_qs };

    QTest::newRow("rename") << u"rename"_qs << u"@f"_qs << u"@_old_f"_qs << none
                            << QStringList{ u"f"_qs } << ok << none
                            << QStringList{ u"rename @f @_old_f"_qs }
                            << QStringList{ u"_old_f=f"_qs };
    QTest::newRow("rename onto a taken name")
            << u"rename"_qs << u"@f"_qs << u"@_old_f"_qs << none
            << QStringList{ u"f"_qs, u"_old_f"_qs } << failed
            << QStringList{ u"Could not rename '@f' to '@_old_f'"_qs } << none
            << QStringList{ u"_old_f=_old_f"_qs, u"f=f"_qs };
    QTest::newRow("rename missing") << u"rename"_qs << u"@f"_qs << u"@g"_qs << none << none
                                    << failed
                                    << QStringList{ u"Could not rename '@f' to '@g'"_qs } << none
                                    << none;
}

void tst_FileOpTasks::fastOps()
{
    QFETCH(QString, op);
    QFETCH(QString, arg1);
    QFETCH(QString, arg2);
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, files);
    QFETCH(TaskSpecification::State, expectedState);
    QFETCH(QStringList, expectedMessages);
    QFETCH(QStringList, expectedJournal);
    QFETCH(QStringList, expectedTree);

    QVERIFY(DiskTree::build(dir->path(), dirs, files));
    RollbackDataList journal;
    std::unique_ptr<TaskSpecification> task;
    if (op == u"mkdir")
        task = std::make_unique<DirCreateTaskSpecification>(expand(arg1), &journal, nullptr, 0.5);
    else if (op == u"delete")
        task = std::make_unique<FileDeleteTaskSpecification>(true, expand(arg1), nullptr, 0.5);
    else if (op == u"delete-best-effort")
        task = std::make_unique<FileDeleteTaskSpecification>(false, expand(arg1), nullptr, 0.5);
    else
        task = std::make_unique<FileRenameTaskSpecification>(expand(arg1), expand(arg2), &journal,
                                                             nullptr, 0.5);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();

    // Everything happens inside execute().
    QCOMPARE(task->getState(), expectedState);
    QCOMPARE(finished.size(), expectedState == TaskSpecification::Finished ? 1 : 0);
    QCOMPARE(canceled.size(), expectedState == TaskSpecification::Finished ? 0 : 1);
    QStringList actualMessages;
    for (const QList<QVariant> &args : std::as_const(messages))
        actualMessages.append(args.at(0).toString());
    QCOMPARE(actualMessages, expand(expectedMessages));
    QCOMPARE(describe(journal), expand(expectedJournal));
    QCOMPARE(DiskTree::list(dir->path()), expectedTree);
}

void tst_FileOpTasks::slowOps_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<QByteArray>("sourceBytes");
    QTest::addColumn<bool>("destExists");
    QTest::addColumn<bool>("withJournal");
    QTest::addColumn<TaskSpecification::State>("expectedState");
    QTest::addColumn<bool>("expectDest");
    QTest::addColumn<QByteArray>("expectedDest");

    const auto ok = TaskSpecification::Finished;
    const auto failed = TaskSpecification::ErrorCanceled;
    const QByteArray payload = sample(100000);
    const QByteArray packed = gzipped(payload);
    QByteArray corrupt = packed;
    for (int i = 40; i < 60; ++i)
        corrupt[i] = char(corrupt.at(i) ^ 0x5a);
    const QByteArray previous("previous");

    QTest::newRow("copy") << u"copy"_qs << u"s"_qs << true << payload << false << true << ok
                          << true << payload;
    QTest::newRow("copy without journal") << u"copy"_qs << u"s"_qs << true << payload << false
                                          << false << ok << true << payload;
    QTest::newRow("copy onto existing") << u"copy"_qs << u"s"_qs << true << payload << true
                                        << true << failed << true << previous;
    QTest::newRow("copy from missing") << u"copy"_qs << u"s"_qs << false << QByteArray() << false
                                       << true << failed << false << QByteArray();

    QTest::newRow("unzip empty content") << u"unzip"_qs << u"s.gz"_qs << true
                                         << gzipped(QByteArray()) << false << true << ok << true
                                         << QByteArray();
    QTest::newRow("unzip several buffers") << u"unzip"_qs << u"s.gz"_qs << true << packed << false
                                           << true << ok << true << payload;
    QTest::newRow("unzip corrupt") << u"unzip"_qs << u"s.gz"_qs << true << corrupt << false << true
                                   << failed << false << QByteArray();
    QTest::newRow("unzip truncated") << u"unzip"_qs << u"s.gz"_qs << true
                                     << packed.left(packed.size() / 2) << false << true << failed
                                     << false << QByteArray();
    QTest::newRow("unzip from missing") << u"unzip"_qs << u"s.gz"_qs << false << QByteArray()
                                        << false << true << failed << false << QByteArray();
    QTest::newRow("unzip onto existing") << u"unzip"_qs << u"s.gz"_qs << true << packed << true
                                         << true << failed << true << previous;
    QTest::newRow("unzip from a name beyond Latin-1")
            << u"unzip"_qs << u"dätä-ŝ.gz"_qs << true << packed << false << true << ok << true
            << payload;
}

void tst_FileOpTasks::slowOps()
{
    QFETCH(QString, op);
    QFETCH(QString, source);
    QFETCH(bool, sourceExists);
    QFETCH(QByteArray, sourceBytes);
    QFETCH(bool, destExists);
    QFETCH(bool, withJournal);
    QFETCH(TaskSpecification::State, expectedState);
    QFETCH(bool, expectDest);
    QFETCH(QByteArray, expectedDest);

    const QString sourcePath = dir->filePath(source);
    const QString destPath = dir->filePath(u"d"_qs);
    if (sourceExists)
        QVERIFY(DiskTree::writeFile(sourcePath, sourceBytes));
    if (destExists)
        QVERIFY(DiskTree::writeFile(destPath, "previous"));
    RollbackDataList journal;
    RollbackDataList *list = withJournal ? &journal : nullptr;
    std::unique_ptr<SlowFileOpSpecification> task;
    if (op == u"copy")
        task = std::make_unique<FileCopyTaskSpecification>(list, sourcePath, destPath, nullptr, 0.5);
    else
        task = std::make_unique<FileUnzipTaskSpecification>(list, sourcePath, destPath, nullptr,
                                                            0.5);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();
    QCOMPARE(task->getState(), TaskSpecification::Running);
    QTRY_COMPARE(finished.size() + canceled.size(), 1);

    QCOMPARE(task->getState(), expectedState);
    const bool success = expectedState == TaskSpecification::Finished;
    QCOMPARE(finished.size(), success ? 1 : 0);
    const QString failText = (op == u"copy" ? u"Could not copy '%1' to '%2'"_qs
                                            : u"Could not unzip '%1' to '%2'"_qs)
                                     .arg(sourcePath, destPath);
    QCOMPARE(messages.size(), success ? 0 : 1);
    if (!success)
        QCOMPARE(messages.at(0).at(0).toString(), failText);
    QCOMPARE(describe(journal),
             success && withJournal ? QStringList{ u"file "_qs + destPath } : QStringList());
    QCOMPARE(QFile::exists(destPath), expectDest);
    if (expectDest)
        QCOMPARE(DiskTree::readFile(destPath), expectedDest);
    // The source is never touched.
    QCOMPARE(QFile::exists(sourcePath), sourceExists);
}

void tst_FileOpTasks::resultAfterReset_data()
{
    QTest::addColumn<bool>("sourceExists");

    QTest::newRow("success still journals") << true;
    QTest::newRow("failure still logs") << false;
}

// A reset task ends no more, but what its function did to the disk is still
// journalled or reported.
void tst_FileOpTasks::resultAfterReset()
{
    QFETCH(bool, sourceExists);

    const QString sourcePath = dir->filePath(u"s"_qs);
    const QString destPath = dir->filePath(u"d"_qs);
    if (sourceExists)
        QVERIFY(DiskTree::writeFile(sourcePath, "payload"));
    RollbackDataList journal;
    FileCopyTaskSpecification task(&journal, sourcePath, destPath, nullptr, 0.5);
    QSignalSpy messages(&task, &TaskSpecification::message);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute();
    task.reset();
    QTest::qWait(50);

    QCOMPARE(task.getState(), TaskSpecification::Idle);
    QCOMPARE(finished.size() + canceled.size(), 0);
    QCOMPARE(describe(journal), sourceExists ? QStringList{ u"file "_qs + destPath } : QStringList());
    QCOMPARE(messages.size(), sourceExists ? 0 : 1);
}

QTEST_GUILESS_MAIN(tst_FileOpTasks)
#include "tst_fileoptasks.moc"
