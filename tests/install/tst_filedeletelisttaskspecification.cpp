#include "installfixture.h"
#include "install/filedeletelisttaskspecification.h"
#include "tasks/filedeletetaskspecification.h"

#include <QtTest>

class tst_FileDeleteListTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void deletes_data();
    void deletes();
};

void tst_FileDeleteListTaskSpecification::deletes_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("deleteList");
    QTest::addColumn<QStringList>("expectedTree");

    QTest::newRow("empty list") << strings({ "a.txt=a" }) << QStringList()
                                << strings({ "a.txt=a@640" });
    QTest::newRow("existing files")
            << strings({ "a.txt=a", "lib/", "lib/_old_libx.so=x", "keep.txt=k" })
            << strings({ "a.txt", "lib/_old_libx.so" })
            << strings({ "lib/", "keep.txt=k@640" });
    // Every failure is ignored and the stage still finishes.
    QTest::newRow("missing, twice named and undeletable")
            << strings({ "a.txt=a", "dir/", "dir/f=f" })
            << strings({ "missing.txt", "a.txt", "a.txt", "dir", "nodir/x" })
            << strings({ "dir/", "dir/f=f@640" });
}

void tst_FileDeleteListTaskSpecification::deletes()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, deleteList);
    QFETCH(QStringList, expectedTree);

    InstallFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.install(installed));

    QList<QString> list = deleteList;
    FileDeleteListTaskSpecification stage(&list, nullptr, 0.05);
    TaskRun run(&stage);
    QVERIFY(run.run());

    QCOMPARE(int(stage.getState()), int(TaskSpecification::Finished));
    QCOMPARE(run.ends, 1);
    QCOMPARE(run.messages, strings({ "Starting deleting files" }));
    QCOMPARE(fixture.snapshot(), DiskSnapshot::expected(expectedTree));
    QCOMPARE(stage.getProgress(), 0.05);
    QCOMPARE(stage.getSubTasks().size(), deleteList.size());
    for (const TaskSpecification *sub : stage.getSubTasks()) {
        auto *deletion = qobject_cast<const FileDeleteTaskSpecification *>(sub);
        QVERIFY(deletion);
        QVERIFY(!deletion->getMustSucceed());
        QCOMPARE(deletion->getParentProgressRange(), 1.0 / deleteList.size());
    }
}

QTEST_GUILESS_MAIN(tst_FileDeleteListTaskSpecification)
#include "tst_filedeletelisttaskspecification.moc"
