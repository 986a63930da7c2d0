#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class QSettings;

// One mirror of the pool. The pool keeps one copy; every download keeps its
// own copy of the mirror it was given.
class FTPSiteAccessData
{
public:
    // Identity of the mirror: its group in mirrors.ini, or "Alpha Channel".
    QString name;
    // Base address for the version being installed, ending in the version number.
    QString url;
    // Errors tolerated; the next one removes the mirror.
    int retries = 0;
    // Timer ticks without data after which a download from here is abandoned.
    int timeoutTicks = 15;
    int errorCount = 0;
    // Downloads currently holding this mirror.
    int useCount = 0;
    // The most downloads this mirror is given at once.
    int maxUseCount = 1;
};

// The mirrors of one update run. Hands a mirror to every download that
// starts, chosen at random with each free slot equally likely, counts their
// errors and drops a mirror that fails too often or answers wrongly. It only
// shrinks: no mirror comes back and error counts are never reset.
class Mirrors final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Mirrors)

public:
    explicit Mirrors(QObject *parent);

    bool initDefault(const QString &mirrorsIniPath, int versionNumber);
    bool initAlpha(const QString &updateIniPath, int versionNumber);
    void setDefaults(QSettings &settings, int versionNumber);

    // 0: a mirror was assigned and copied into out; 1: the pool is empty;
    // 2: every mirror is at its slot limit.
    int getRandomMirror(FTPSiteAccessData &out);
    void releaseMirror(const QString &name);
    void addMirrorError(const QString &name);
    void removeMirror(const QString &name);
    int getMirrorIndex(const QString &name) const;
    void calcUseStats(int &maxTotal, int &useTotal) const;

    const QVector<FTPSiteAccessData> &getMirrors() const { return mirrors; }

signals:
    void fatalError(const QString &errorMessage);
    void message(const QString &message);

private:
    QVector<FTPSiteAccessData> mirrors;
    // The empty-pool message is shown once per run, not once per download.
    bool noMirrorsReported = false;
};
