#include "programvalues.h"

const QStringList executableFiles = {
    QStringLiteral("hvxclient_linux_x86"),
    QStringLiteral("hvxclient_linux_amd64"),
    QStringLiteral("hvxclient_runscript.sh"),
    QStringLiteral("update"),
};

const QStringList executableSuffixes = {
    QStringLiteral("so"),
    QStringLiteral("so.4"),
};

QString BANNER_SERVER = QStringLiteral(HALVEX_UPDATE_SERVER);
