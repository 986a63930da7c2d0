#include "installfixture.h"
#include "install/filedeletelisttaskspecification.h"
#include "install/filereplacelisttaskspecification.h"
#include "install/filereplacetaskspecification.h"
#include "tasks/dircreatetaskspecification.h"

#include <QtTest>

#include <sys/stat.h>

namespace {

QList<FileReplaceSpecification> replaceList(const QStringList &entries,
                                            const QStringList &downloads)
{
    QList<FileReplaceSpecification> list;
    for (const QString &entry : entries)
        list.append(InstallFixture::entry(entry, downloads));
    return list;
}

} // namespace

class tst_FileReplaceListTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plan_data();
    void plan();
    void installsAll();
    void failureUndoesStage_data();
    void failureUndoesStage();
    void userCancelUndoesStage();

private:
    // "mkdir a/b 0.05", "replace a/b/x 0.45": the stage's subtasks in order.
    QStringList plan(const FileReplaceListTaskSpecification &stage,
                     const InstallFixture &fixture) const;
};

void tst_FileReplaceListTaskSpecification::initTestCase()
{
    ::umask(022);
}

QStringList tst_FileReplaceListTaskSpecification::plan(const FileReplaceListTaskSpecification &stage,
                                                       const InstallFixture &fixture) const
{
    const QDir base(fixture.installDir.path());
    QStringList steps;
    for (const TaskSpecification *sub : stage.getSubTasks()) {
        const QString weight = QString::number(sub->getParentProgressRange());
        if (auto *dir = qobject_cast<const DirCreateTaskSpecification *>(sub)) {
            steps.append(u"mkdir "_qs + base.relativeFilePath(dir->getPath()) + u' ' + weight);
        } else if (auto *file = qobject_cast<const FileReplaceTaskSpecification *>(sub)) {
            steps.append(u"replace "_qs + file->getReplaceSpecification().fileName + u' '
                         + weight);
        } else {
            steps.append(u"? "_qs + weight);
        }
    }
    return steps;
}

void tst_FileReplaceListTaskSpecification::plan_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expectedPlan");

    QTest::newRow("empty list") << QStringList() << QStringList() << QStringList();
    QTest::newRow("all directories exist")
            << strings({ "lib/" }) << strings({ "a.txt", "lib/b.so" })
            << strings({ "replace a.txt 0.5", "replace lib/b.so 0.5" });
    QTest::newRow("two missing siblings")
            << QStringList() << strings({ "a/b/x", "a/c/y" })
            << strings({ "mkdir a/b 0.05", "mkdir a/c 0.05", "replace a/b/x 0.45",
                         "replace a/c/y 0.45" });
    // Each directory once, in plain character order, whatever the list order.
    QTest::newRow("sorted and once each")
            << strings({ "lib/" })
            << strings({ "z/f", "lib/g", "a/b/f", "a/f", "z/g", "a.gz>A/u" })
            << strings({ "mkdir A 0.025", "mkdir a 0.025", "mkdir a/b 0.025", "mkdir z 0.025",
                         "replace z/f 0.15", "replace lib/g 0.15", "replace a/b/f 0.15",
                         "replace a/f 0.15", "replace z/g 0.15", "replace a.gz 0.15" });
}

void tst_FileReplaceListTaskSpecification::plan()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expectedPlan);

    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(installed));
    QStringList downloads;
    for (const QString &entry : std::as_const(entries))
        downloads.append(entry.section(u'>', 0, 0) + u"=content"_qs);
    QVERIFY(fixture.download(downloads));

    QList<FileReplaceSpecification> replaces = replaceList(entries, downloads);
    QList<QString> deletes;
    FileReplaceListTaskSpecification stage(&replaces, &deletes, &fixture.configuration, nullptr,
                                           0.4);
    TaskRun run(&stage);
    QVERIFY(run.run());

    QCOMPARE(plan(stage, fixture), expectedPlan);
    QCOMPARE(int(stage.getState()), int(TaskSpecification::Finished));
    QCOMPARE(run.ends, 1);
    QCOMPARE(stage.getProgress(), 0.4);
}

// A whole stage: new files in new nested directories, a replaced library, the
// updater itself and a compressed file; then the deletion stage on the same
// delete list. A reset in between reverts the completed stage, which can run
// again.
void tst_FileReplaceListTaskSpecification::installsAll()
{
    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(strings({ "update=old updater", "plugins/", "plugins/libx.so=old lib",
                                      "doc/", "doc/readme.txt=old readme",
                                      "obsolete.txt=gone soon" })));
    const QStringList downloads = strings({ "a/b/new.txt=new", "a/c/hvxclient_runscript.sh=run",
                                            "plugins/libx.so=new lib", "update=new updater",
                                            "doc/readme.gz=new readme" });
    QVERIFY(fixture.download(downloads));
    const QStringList before = fixture.snapshot();

    QList<FileReplaceSpecification> replaces = replaceList(
            strings({ "a/b/new.txt", "a/c/hvxclient_runscript.sh", "plugins/libx.so", "update",
                      "doc/readme.gz>doc/readme.txt" }),
            downloads);
    // The product ini's deletions come first.
    QList<QString> deletes{ u"obsolete.txt"_qs };
    FileReplaceListTaskSpecification stage(&replaces, &deletes, &fixture.configuration, nullptr,
                                           0.4);
    TaskRun run(&stage);

    const QStringList installed = DiskSnapshot::expected(strings({
            "a/", "a/b/", "a/c/", "a/b/new.txt=new@604", "a/c/hvxclient_runscript.sh=run@755",
            "plugins/", "plugins/libx.so=new lib@755", "plugins/_old_libx.so=old lib@640",
            "update=new updater@755", "_old_update=old updater@640", "doc/",
            "doc/readme.txt=new readme@644", "doc/_old_readme.txt=old readme@640",
            "obsolete.txt=gone soon@640" }));
    for (int round = 0; round < 2; ++round) {
        run.messages.clear();
        deletes = { u"obsolete.txt"_qs };
        QVERIFY(run.run());
        QCOMPARE(int(stage.getState()), int(TaskSpecification::Finished));
        QCOMPARE(run.ends, round + 1);
        QCOMPARE(run.messages,
                 strings({ "Starting file updates", "add/replace a/b/new.txt",
                           "add/replace a/c/hvxclient_runscript.sh",
                           "add/replace plugins/libx.so", "add/replace update",
                           "add/replace doc/readme.gz" }));
        QCOMPARE(fixture.snapshot(), installed);
        // The directories come first in the journal, so they are removed last.
        const QStringList journal = fixture.describe(stage.getRollbackList());
        QCOMPARE(journal.mid(0, 3), strings({ "dir a", "dir a/b", "dir a/c" }));
        QStringList files = journal.mid(3);
        files.sort();
        QCOMPARE(files, strings({ "file a/b/new.txt", "file a/c/hvxclient_runscript.sh",
                                  "file doc/readme.txt", "file plugins/libx.so", "file update",
                                  "rename doc/readme.txt > doc/_old_readme.txt",
                                  "rename plugins/libx.so > plugins/_old_libx.so",
                                  "rename update > _old_update" }));
        // Two at a time: the moved-aside names come in the order the
        // replacements completed.
        QCOMPARE(deletes.value(0), u"obsolete.txt"_qs);
        QCOMPARE(QSet<QString>(deletes.cbegin(), deletes.cend()),
                 (QSet<QString>{ u"obsolete.txt"_qs, u"plugins/_old_libx.so"_qs,
                                 u"doc/_old_readme.txt"_qs }));
        QCOMPARE(deletes.size(), 3);

        if (round == 0) {
            stage.reset();
            QCOMPARE(fixture.snapshot(), before);
            QCOMPARE(int(stage.getState()), int(TaskSpecification::Idle));
        }
    }

    FileDeleteListTaskSpecification deletion(&deletes, nullptr, 0.05);
    TaskRun deletionRun(&deletion);
    QVERIFY(deletionRun.run());
    QCOMPARE(int(deletion.getState()), int(TaskSpecification::Finished));
    QCOMPARE(deletionRun.messages, strings({ "Starting deleting files" }));
    // The updater's old copy stays for its next start.
    QCOMPARE(fixture.snapshot(), DiskSnapshot::expected(strings({
             "a/", "a/b/", "a/c/", "a/b/new.txt=new@604", "a/c/hvxclient_runscript.sh=run@755",
             "plugins/", "plugins/libx.so=new lib@755", "update=new updater@755",
             "_old_update=old updater@640", "doc/", "doc/readme.txt=new readme@644" })));
}

void tst_FileReplaceListTaskSpecification::failureUndoesStage_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("downloads");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("mustLog");
    QTest::addColumn<QStringList>("mustNotLog");

    const QStringList installed = strings({ "a.txt=old a", "libb.so=old b", "n1/" });
    const QStringList downloads = strings({ "a.txt=new a", "b.gz=new b", "n1/n2/n3/c.txt=new c",
                                            "d.txt=new d" });

    // The check fails after other files may already be in place.
    QTest::newRow("second file's content does not match")
            << installed << downloads
            << strings({ "a.txt", "b.gz>libb.so!", "n1/n2/n3/c.txt", "d.txt" })
            << strings({ "Signature check failed for @libb.so", "rolling back file updates" })
            << strings({ "warning" });
    // The second fails at once while the first still runs: the first
    // completes, nothing after the second starts.
    QTest::newRow("second file's stale copy cannot be deleted")
            << installed + strings({ "_old_libb.so/", "_old_libb.so/keep=x" }) << downloads
            << strings({ "n1/n2/n3/c.txt", "b.gz>libb.so", "a.txt", "d.txt" })
            << strings({ "add/replace n1/n2/n3/c.txt", "Could not delete '@_old_libb.so'",
                         "rolling back file updates" })
            << strings({ "add/replace a.txt", "add/replace d.txt", "warning" });
    QTest::newRow("a directory cannot be created")
            << installed + strings({ "n1/n2=a file" }) << downloads
            << strings({ "a.txt", "n1/n2/n3/c.txt" })
            << strings({ "unable to create dir @n1/n2/n3", "rolling back file updates" })
            << strings({ "add/replace", "warning" });
    QTest::newRow("a missing download among new directories")
            << installed << strings({ "a.txt=new a" })
            << strings({ "a.txt", "x/y/z.txt", "x/w.txt" })
            << strings({ "rolling back file updates" }) << strings({ "warning" });
}

void tst_FileReplaceListTaskSpecification::failureUndoesStage()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, downloads);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, mustLog);
    QFETCH(QStringList, mustNotLog);

    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(installed));
    QVERIFY(fixture.download(downloads));
    const QStringList before = fixture.snapshot();

    QList<FileReplaceSpecification> replaces = replaceList(entries, downloads);
    QList<QString> deletes;
    FileReplaceListTaskSpecification stage(&replaces, &deletes, &fixture.configuration, nullptr,
                                           0.4);
    TaskRun run(&stage);
    QVERIFY(run.run());

    QCOMPARE(int(stage.getState()), int(TaskSpecification::ErrorCanceled));
    QCOMPARE(run.ends, 1);
    QCOMPARE(fixture.snapshot(), before);
    QVERIFY(stage.getRollbackList().isEmpty());
    const QString log = run.messages.join(u'\n');
    for (const QString &text : fixture.expand(mustLog))
        QVERIFY2(run.messages.contains(text), qPrintable(log));
    for (const QString &text : fixture.expand(mustNotLog))
        QVERIFY2(!log.contains(text), qPrintable(log));
    QCOMPARE(run.messages.count(u"rolling back file updates"_qs), 1);
}

// The cancel comes when the third file starts, so the first has completed
// and committed: the stage undoes it, and the fourth never starts.
void tst_FileReplaceListTaskSpecification::userCancelUndoesStage()
{
    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(strings({ "a.so=old a", "b.txt=old b" })));
    const QStringList downloads = strings({ "a.so=new a", "b.txt=new b", "n/m/c.txt=new c",
                                            "d.txt=new d" });
    QVERIFY(fixture.download(downloads));
    const QStringList before = fixture.snapshot();

    QList<FileReplaceSpecification> replaces =
            replaceList(strings({ "a.so", "b.txt", "n/m/c.txt", "d.txt" }), downloads);
    QList<QString> deletes;
    FileReplaceListTaskSpecification stage(&replaces, &deletes, &fixture.configuration, nullptr,
                                           0.4);
    TaskRun run(&stage);
    connect(&stage, &TaskSpecification::message, &stage, [&stage](const QString &text) {
        if (text == u"add/replace n/m/c.txt")
            stage.userCanceled();
    });
    QVERIFY(run.run());

    QCOMPARE(int(stage.getState()), int(TaskSpecification::UserCanceled));
    QCOMPARE(run.ends, 1);
    QCOMPARE(fixture.snapshot(), before);
    QVERIFY(run.messages.contains(u"rolling back file updates"_qs));
    QVERIFY(!run.messages.contains(u"add/replace d.txt"_qs));
    QVERIFY(!run.messages.join(u'\n').contains(u"warning"_qs));
}

QTEST_GUILESS_MAIN(tst_FileReplaceListTaskSpecification)
#include "tst_filereplacelisttaskspecification.moc"
