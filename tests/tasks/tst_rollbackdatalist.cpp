#include "disktree.h"
#include "tasks/rollbackdatalist.h"
#include "tasks/taskspecification.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Receives the undo warnings the way the replacement tasks do: as its own
// message signal.
class Reporter final : public TaskSpecification
{
public:
    Reporter() : TaskSpecification(nullptr, 1.0) { }
    void execute() override { }
};

} // namespace

class tst_RollbackDataList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rollback_data();
    void rollback();
    void appendListKeepsOrder();

private:
    QString at(const QString &relative) const { return dir->filePath(relative); }
    // "@" in an expected text stands for the temporary directory.
    QString expand(QString text) const { return text.replace(QLatin1Char('@'), dir->path() + u'/'); }
    // Journal lines "dir a", "file a/f", "rename from to" with relative paths.
    RollbackDataList journal(const QStringList &lines) const;

    std::unique_ptr<QTemporaryDir> dir;
};

void tst_RollbackDataList::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

RollbackDataList tst_RollbackDataList::journal(const QStringList &lines) const
{
    RollbackDataList list;
    for (const QString &line : lines) {
        const QStringList w = line.split(u' ');
        if (w.at(0) == u"dir")
            list.add(RollbackData(RollbackData::CreateDir, at(w.at(1))));
        else if (w.at(0) == u"file")
            list.add(RollbackData(RollbackData::CreateFile, at(w.at(1))));
        else
            list.add(RollbackData(RollbackData::Rename, at(w.at(1)), at(w.at(2))));
    }
    return list;
}

void tst_RollbackDataList::rollback_data()
{
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<bool>("withReporter");
    QTest::addColumn<bool>("expectedResult");
    QTest::addColumn<QStringList>("expectedWarnings");
    QTest::addColumn<QStringList>("expectedTree");

    // One replacement as it is journalled: directories for a new file, the
    // new file, an installed file moved aside and its new version. Undone
    // last first, the new f goes before the old one comes back, and a/b/g
    // before its directories.
    const QStringList replacement{ u"dir a"_qs, u"dir a/b"_qs, u"file a/b/g"_qs,
                                   u"rename f _old_f"_qs, u"file f"_qs };
    const QStringList replacedDirs{ u"a/b"_qs };
    const QStringList replacedFiles{ u"a/b/g"_qs, u"_old_f"_qs, u"f"_qs };

    QTest::newRow("empty journal") << QStringList() << QStringList() << QStringList() << true
                                   << true << QStringList() << QStringList();
    QTest::newRow("replacement undone") << replacedDirs << replacedFiles << replacement << true
                                        << true << QStringList() << QStringList{ u"f=_old_f"_qs };
    QTest::newRow("someone else's file in a/b")
            << replacedDirs << (replacedFiles + QStringList{ u"a/b/other"_qs }) << replacement << true << false
            << QStringList{ u"warning: rollback create dir @a/b failed"_qs,
                            u"warning: rollback create dir @a failed"_qs }
            << QStringList{ u"a/"_qs, u"a/b/"_qs, u"a/b/other=a/b/other"_qs, u"f=_old_f"_qs };
    QTest::newRow("old name re-created")
            << QStringList() << QStringList{ u"f"_qs, u"_old_f"_qs }
            << QStringList{ u"rename f _old_f"_qs } << true << false
            << QStringList{ u"warning: rollback rename @f to @_old_f failed"_qs }
            << QStringList{ u"_old_f=_old_f"_qs, u"f=f"_qs };
    QTest::newRow("created dir not empty")
            << QStringList{ u"d"_qs } << QStringList{ u"d/x"_qs } << QStringList{ u"dir d"_qs }
            << true << false << QStringList{ u"warning: rollback create dir @d failed"_qs }
            << QStringList{ u"d/"_qs, u"d/x=d/x"_qs };
    // Failures do not stop the journal, and their warnings show the order.
    QTest::newRow("failures reported last first")
            << QStringList() << QStringList{ u"kept"_qs, u"new"_qs }
            << QStringList{ u"file gone1"_qs, u"rename kept moved"_qs, u"file new"_qs,
                            u"file gone2"_qs }
            << true << false
            << QStringList{ u"warning: rollback create file @gone2 failed"_qs,
                            u"warning: rollback rename @kept to @moved failed"_qs,
                            u"warning: rollback create file @gone1 failed"_qs }
            << QStringList{ u"kept=kept"_qs };
    QTest::newRow("null reporter")
            << QStringList() << QStringList{ u"new"_qs }
            << QStringList{ u"file new"_qs, u"file gone"_qs } << false << false << QStringList()
            << QStringList();
}

void tst_RollbackDataList::rollback()
{
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, files);
    QFETCH(QStringList, records);
    QFETCH(bool, withReporter);
    QFETCH(bool, expectedResult);
    QFETCH(QStringList, expectedWarnings);
    QFETCH(QStringList, expectedTree);

    QVERIFY(DiskTree::build(dir->path(), dirs, files));
    RollbackDataList list = journal(records);
    Reporter reporter;
    QSignalSpy warnings(&reporter, &TaskSpecification::message);

    QCOMPARE(list.rollback(withReporter ? &reporter : nullptr), expectedResult);

    QStringList actualWarnings;
    for (const QList<QVariant> &args : std::as_const(warnings))
        actualWarnings.append(args.at(0).toString());
    for (QString &w : expectedWarnings)
        w = expand(w);
    QCOMPARE(actualWarnings, expectedWarnings);
    QVERIFY(list.isEmpty());
    QCOMPARE(DiskTree::list(dir->path()), expectedTree);
}

void tst_RollbackDataList::appendListKeepsOrder()
{
    RollbackDataList stage = journal({ u"file r0"_qs });
    const RollbackDataList own = journal({ u"file r1"_qs, u"dir r2"_qs });

    stage.appendList(own);

    QCOMPARE(stage.getRecords(), journal({ u"file r0"_qs, u"file r1"_qs, u"dir r2"_qs }).getRecords());
    QCOMPARE(own.getRecords().size(), 2);

    Reporter reporter;
    QSignalSpy warnings(&reporter, &TaskSpecification::message);
    QVERIFY(!stage.rollback(&reporter));
    QCOMPARE(warnings.size(), 3);
    QCOMPARE(warnings.at(0).at(0).toString(), expand(u"warning: rollback create dir @r2 failed"_qs));
    QCOMPARE(warnings.at(1).at(0).toString(), expand(u"warning: rollback create file @r1 failed"_qs));
    QCOMPARE(warnings.at(2).at(0).toString(), expand(u"warning: rollback create file @r0 failed"_qs));
}

QTEST_GUILESS_MAIN(tst_RollbackDataList)
#include "tst_rollbackdatalist.moc"
