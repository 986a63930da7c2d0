#pragma once

#include <QString>
#include <QStringList>

// Values the whole program shares, set up before main() runs.

// Installed files that must keep their execute permission: the client's two
// binaries, its start script and the updater itself.
extern const QStringList executableFiles;
// Installed files ending in one of these are shared libraries and are made
// executable as well.
extern const QStringList executableSuffixes;
// Host of the update server; it answers the banner query as well as the
// latest-version query. Not const so that tests can point it elsewhere.
extern QString BANNER_SERVER;
