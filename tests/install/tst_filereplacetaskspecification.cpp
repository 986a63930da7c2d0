#include "crypto/checksignaturetaskspecification.h"
#include "installfixture.h"
#include "install/filereplacetaskspecification.h"
#include "tasks/filecopytaskspecification.h"
#include "tasks/filedeletetaskspecification.h"
#include "tasks/filerenametaskspecification.h"
#include "tasks/fileunziptaskspecification.h"

#include <QThreadPool>
#include <QtTest>

#include <sys/stat.h>

namespace {

// "rename 0.1", "copy 0.9", ...: the subtasks in order, with their weights.
QStringList plan(const FileReplaceTaskSpecification &task)
{
    QStringList steps;
    for (const TaskSpecification *sub : task.getSubTasks()) {
        QString kind = QStringLiteral("?");
        if (qobject_cast<const FileDeleteTaskSpecification *>(sub))
            kind = QStringLiteral("delete");
        else if (qobject_cast<const FileRenameTaskSpecification *>(sub))
            kind = QStringLiteral("rename");
        else if (qobject_cast<const FileCopyTaskSpecification *>(sub))
            kind = QStringLiteral("copy");
        else if (qobject_cast<const FileUnzipTaskSpecification *>(sub))
            kind = QStringLiteral("unpack");
        else if (qobject_cast<const CheckSignatureTaskSpecification *>(sub))
            kind = QStringLiteral("check");
        steps.append(kind + u' ' + QString::number(sub->getParentProgressRange()));
    }
    return steps;
}

} // namespace

class tst_FileReplaceTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plans_data();
    void plans();
    void executablePermission_data();
    void executablePermission();
    void userCancel_data();
    void userCancel();
    void resetWhileCopying();
};

void tst_FileReplaceTaskSpecification::initTestCase()
{
    // Unpacked files get the process's default mode; fix it for the checks.
    ::umask(022);
}

void tst_FileReplaceTaskSpecification::plans_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("downloads");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("expectedPlan");
    QTest::addColumn<int>("expectedState");
    // Only for a completed replacement: a failed one leaves the installation
    // exactly as it was.
    QTest::addColumn<QStringList>("expectedTree");
    QTest::addColumn<QStringList>("expectedJournal");
    // Appended to the delete list after the name the product ini put there.
    QTest::addColumn<QStringList>("expectedDeletes");
    QTest::addColumn<QStringList>("expectedMessages");

    const int finished = TaskSpecification::Finished;
    const int failed = TaskSpecification::ErrorCanceled;

    QTest::newRow("new file")
            << QStringList() << strings({ "notes.txt=new" }) << u"notes.txt"_qs
            << strings({ "copy 1" }) << finished << strings({ "notes.txt=new@604" })
            << strings({ "file notes.txt" }) << QStringList()
            << strings({ "add/replace notes.txt" });
    QTest::newRow("existing library moved aside and deleted later")
            << strings({ "plugins/", "plugins/libx.so=old" })
            << strings({ "plugins/libx.so=new" }) << u"plugins/libx.so"_qs
            << strings({ "rename 0.1", "copy 0.9" }) << finished
            << strings({ "plugins/", "plugins/_old_libx.so=old@640",
                            "plugins/libx.so=new@755" })
            << strings({ "rename plugins/libx.so > plugins/_old_libx.so", "file plugins/libx.so" })
            << strings({ "plugins/_old_libx.so" })
            << strings({ "add/replace plugins/libx.so" });
    QTest::newRow("updater moved aside and left")
            << strings({ "update=old" }) << strings({ "update=new" }) << u"update"_qs
            << strings({ "rename 0.1", "copy 0.9" }) << finished
            << strings({ "_old_update=old@640", "update=new@755" })
            << strings({ "rename update > _old_update", "file update" }) << QStringList()
            << strings({ "add/replace update" });
    QTest::newRow("loaded library moved aside and left")
            << strings({ "libQtCore.so.4=old" }) << strings({ "libQtCore.so.4=new" })
            << u"libQtCore.so.4"_qs << strings({ "rename 0.1", "copy 0.9" }) << finished
            << strings({ "_old_libQtCore.so.4=old@640", "libQtCore.so.4=new@755" })
            << strings({ "rename libQtCore.so.4 > _old_libQtCore.so.4", "file libQtCore.so.4" })
            << QStringList() << strings({ "add/replace libQtCore.so.4" });
    QTest::newRow("stale moved-aside copy deleted first")
            << strings({ "x.txt=old", "_old_x.txt=stale" }) << strings({ "x.txt=new" })
            << u"x.txt"_qs << strings({ "delete 0.1", "rename 0.1", "copy 0.8" }) << finished
            << strings({ "_old_x.txt=old@640", "x.txt=new@604" })
            << strings({ "rename x.txt > _old_x.txt", "file x.txt" })
            << strings({ "_old_x.txt" }) << strings({ "add/replace x.txt" });
    QTest::newRow("new compressed file")
            << QStringList() << strings({ "data.bin.gz=payload" }) << u"data.bin.gz>data.bin"_qs
            << strings({ "unpack 0.8", "check 0.2" }) << finished
            << strings({ "data.bin=payload@644" }) << strings({ "file data.bin" })
            << QStringList() << strings({ "add/replace data.bin.gz" });
    QTest::newRow("compressed binary replaces installed one")
            << strings({ "bin/", "bin/hvxclient_linux_amd64=old" })
            << strings({ "bin/hvxclient_linux_amd64.gz=payload" })
            << u"bin/hvxclient_linux_amd64.gz>bin/hvxclient_linux_amd64"_qs
            << strings({ "rename 0.1", "unpack 0.7", "check 0.2" }) << finished
            << strings({ "bin/", "bin/_old_hvxclient_linux_amd64=old@640",
                            "bin/hvxclient_linux_amd64=payload@755" })
            << strings({ "rename bin/hvxclient_linux_amd64 > bin/_old_hvxclient_linux_amd64",
                            "file bin/hvxclient_linux_amd64" })
            << strings({ "bin/_old_hvxclient_linux_amd64" })
            << strings({ "add/replace bin/hvxclient_linux_amd64.gz" });
    QTest::newRow("compressed file over a stale copy")
            << strings({ "a.txt=old", "_old_a.txt=stale" }) << strings({ "a.gz=payload" })
            << u"a.gz>a.txt"_qs << strings({ "delete 0.1", "rename 0.1", "unpack 0.6", "check 0.2" })
            << finished << strings({ "_old_a.txt=old@640", "a.txt=payload@644" })
            << strings({ "rename a.txt > _old_a.txt", "file a.txt" })
            << strings({ "_old_a.txt" }) << strings({ "add/replace a.gz" });

    QTest::newRow("unpacked content does not match")
            << strings({ "a.txt=old" }) << strings({ "a.gz=payload" }) << u"a.gz>a.txt!"_qs
            << strings({ "rename 0.1", "unpack 0.7", "check 0.2" }) << failed << QStringList()
            << QStringList() << QStringList()
            << strings({ "add/replace a.gz", "Signature check failed for @a.txt" });
    QTest::newRow("new unpacked file does not match")
            << QStringList() << strings({ "a.gz=payload" }) << u"a.gz>a.txt!"_qs
            << strings({ "unpack 0.8", "check 0.2" }) << failed << QStringList() << QStringList()
            << QStringList()
            << strings({ "add/replace a.gz", "Signature check failed for @a.txt" });
    QTest::newRow("copy fails after the rename")
            << strings({ "a.txt=old" }) << QStringList() << u"a.txt"_qs
            << strings({ "rename 0.1", "copy 0.9" }) << failed << QStringList() << QStringList()
            << QStringList()
            << strings({ "add/replace a.txt", "Could not copy '%a.txt' to '@a.txt'" });
    QTest::newRow("unpack fails after the rename")
            << strings({ "a.txt=old" }) << QStringList() << u"a.gz>a.txt"_qs
            << strings({ "rename 0.1", "unpack 0.7", "check 0.2" }) << failed << QStringList()
            << QStringList() << QStringList()
            << strings({ "add/replace a.gz", "Could not unzip '%a.gz' to '@a.txt'" });
    // A non-empty directory under the "_old_" name cannot be deleted.
    QTest::newRow("stale copy cannot be deleted")
            << strings({ "a.txt=old", "_old_a.txt/", "_old_a.txt/keep=x" })
            << strings({ "a.txt=new" }) << u"a.txt"_qs
            << strings({ "delete 0.1", "rename 0.1", "copy 0.8" }) << failed << QStringList()
            << QStringList() << QStringList()
            << strings({ "add/replace a.txt", "Could not delete '@_old_a.txt'" });
}

void tst_FileReplaceTaskSpecification::plans()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, downloads);
    QFETCH(QString, entry);
    QFETCH(QStringList, expectedPlan);
    QFETCH(int, expectedState);
    QFETCH(QStringList, expectedTree);
    QFETCH(QStringList, expectedJournal);
    QFETCH(QStringList, expectedDeletes);
    QFETCH(QStringList, expectedMessages);

    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(installed));
    QVERIFY(fixture.download(downloads));
    const QStringList before = fixture.snapshot();
    const QStringList downloaded = DiskSnapshot::take(fixture.tempDir.path());

    QList<QString> deleteList{ QStringLiteral("obsolete.txt") };
    RollbackDataList stageJournal;
    stageJournal.add(RollbackData(RollbackData::CreateDir, fixture.expand(u"@earlier"_qs)));
    FileReplaceTaskSpecification task(InstallFixture::entry(entry, downloads), &deleteList,
                                      &stageJournal, &fixture.configuration, nullptr, 0.25);
    TaskRun run(&task);
    QVERIFY(run.run());

    QCOMPARE(plan(task), expectedPlan);
    QCOMPARE(int(task.getState()), expectedState);
    QCOMPARE(run.ends, 1);
    QCOMPARE(run.messages, fixture.expand(expectedMessages));
    QCOMPARE(fixture.snapshot(),
             expectedState == TaskSpecification::Finished ? DiskSnapshot::expected(expectedTree)
                                                          : before);
    QCOMPARE(fixture.describe(stageJournal), strings({ "dir earlier" }) + expectedJournal);
    QCOMPARE(deleteList, strings({ "obsolete.txt" }) + expectedDeletes);
    if (expectedState == TaskSpecification::Finished)
        QCOMPARE(task.getProgress(), 0.25);
    // The download is kept for another attempt, whatever happened.
    QCOMPARE(DiskSnapshot::take(fixture.tempDir.path()), downloaded);
}

void tst_FileReplaceTaskSpecification::executablePermission_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("qualifies");

    QTest::newRow("client x86") << u"hvxclient_linux_x86"_qs << true;
    QTest::newRow("client amd64") << u"hvxclient_linux_amd64"_qs << true;
    QTest::newRow("start script") << u"hvxclient_runscript.sh"_qs << true;
    QTest::newRow("updater") << u"update"_qs << true;
    QTest::newRow("suffix so.4") << u"libQtCore.so.4"_qs << true;
    QTest::newRow("suffix so") << u"libqgif.so"_qs << true;
    QTest::newRow("suffix so in a subdirectory") << u"plugins/libplugin.so"_qs << true;
    QTest::newRow("suffix so.4.8") << u"libfoo.so.4.8"_qs << false;
    QTest::newRow("suffix so.txt") << u"notes.so.txt"_qs << false;
    QTest::newRow("text file") << u"changelog.txt"_qs << false;
    QTest::newRow("name in another case") << u"Update"_qs << false;
    QTest::newRow("suffix in another case") << u"libx.SO"_qs << false;
    QTest::newRow("known name with a suffix") << u"update.bak"_qs << false;
}

void tst_FileReplaceTaskSpecification::executablePermission()
{
    QFETCH(QString, name);
    QFETCH(bool, qualifies);

    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    // Group- and world-writable to start with: a qualifying file must not
    // keep those bits.
    QVERIFY(InstallFixtureData::writeFile(path, "x", 0666));

    FileReplaceTaskSpecification::makeSingleFileExecutable(path);

    QCOMPARE(DiskSnapshot::octal(DiskSnapshot::mode(path)),
             DiskSnapshot::octal(qualifies ? 0755 : 0666));
}

void tst_FileReplaceTaskSpecification::userCancel_data()
{
    QTest::addColumn<bool>("whileCopying");
    QTest::addColumn<int>("expectedState");

    // With the copy still to start, the replacement stops and undoes the
    // rename; once the last step runs, it completes and commits.
    QTest::newRow("before the copy") << false << int(TaskSpecification::UserCanceled);
    QTest::newRow("while the copy runs") << true << int(TaskSpecification::Finished);
}

void tst_FileReplaceTaskSpecification::userCancel()
{
    QFETCH(bool, whileCopying);
    QFETCH(int, expectedState);

    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install({ u"libx.so=old"_qs }));
    QVERIFY(fixture.download({ u"libx.so=new"_qs }));
    const QStringList before = fixture.snapshot();

    QList<QString> deleteList;
    RollbackDataList stageJournal;
    FileReplaceTaskSpecification task(InstallFixture::entry(u"libx.so"_qs, {}), &deleteList,
                                      &stageJournal, &fixture.configuration, nullptr, 1.0);
    TaskRun run(&task);
    task.execute();
    TaskSpecification *rename = task.getSubTasks().at(0);
    // The copy starts from the event loop right after the rename has ended:
    // a queued cancel arrives after that start, a direct one before it.
    connect(rename, &TaskSpecification::finished, &task, [&task] { task.userCanceled(); },
            whileCopying ? Qt::QueuedConnection : Qt::DirectConnection);
    QVERIFY(QTest::qWaitFor([&] { return run.ends > 0; }, 30000));
    QTest::qWait(20);

    QCOMPARE(run.ends, 1);
    QCOMPARE(int(task.getState()), expectedState);
    if (expectedState == TaskSpecification::Finished) {
        QCOMPARE(fixture.snapshot(),
                 DiskSnapshot::expected({ u"_old_libx.so=old@640"_qs, u"libx.so=new@755"_qs }));
        QCOMPARE(deleteList, strings({ "_old_libx.so" }));
    } else {
        QCOMPARE(fixture.snapshot(), before);
        QCOMPARE(int(task.getSubTasks().at(1)->getState()), int(TaskSpecification::Idle));
        QVERIFY(stageJournal.isEmpty());
        QVERIFY(deleteList.isEmpty());
    }
}

// A reset that comes while the copy's result is still on its way must undo
// the copied file too, and the reset task must be able to run again.
void tst_FileReplaceTaskSpecification::resetWhileCopying()
{
    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install({ u"big.dat=old"_qs }));
    QVERIFY(fixture.download({ u"big.dat=new"_qs }));
    const QStringList before = fixture.snapshot();

    QList<QString> deleteList;
    RollbackDataList stageJournal;
    FileReplaceTaskSpecification task(InstallFixture::entry(u"big.dat"_qs, {}), &deleteList,
                                      &stageJournal, &fixture.configuration, nullptr, 1.0);
    TaskRun run(&task);
    task.execute();
    bool wasReset = false;
    connect(task.getSubTasks().at(0), &TaskSpecification::finished, &task,
            [&] {
                // The copy has started; let it write its file before the
                // reset, while its result still waits in the event queue.
                QThreadPool::globalInstance()->waitForDone();
                QVERIFY(QFileInfo::exists(fixture.expand(u"@big.dat"_qs)));
                task.reset();
                wasReset = true;
            },
            Qt::QueuedConnection);
    QVERIFY(QTest::qWaitFor([&] { return wasReset; }, 30000));
    QTest::qWait(50);

    QCOMPARE(run.ends, 0);
    QCOMPARE(int(task.getState()), int(TaskSpecification::Idle));
    QCOMPARE(fixture.snapshot(), before);
    QVERIFY(task.getRollbackList().isEmpty());
    QVERIFY(stageJournal.isEmpty());

    QVERIFY(run.run());
    QCOMPARE(int(task.getState()), int(TaskSpecification::Finished));
    QCOMPARE(run.ends, 1);
    QCOMPARE(deleteList, strings({ "_old_big.dat" }));
    QCOMPARE(fixture.describe(stageJournal),
             (strings({ "rename big.dat > _old_big.dat", "file big.dat" })));
}

QTEST_GUILESS_MAIN(tst_FileReplaceTaskSpecification)
#include "tst_filereplacetaskspecification.moc"
