#pragma once

#include <QProcess>

// Ends a server a test started: politely first, so that it can clean up,
// then by force if it does not go within five seconds.
inline void stopChildProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
