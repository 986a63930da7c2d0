#include "configuration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include "core/updatechecker.h"
#include "core/updateinidata.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace {

const QString NoUserOption = QStringLiteral("--nouser");
const QString NoLabel = QStringLiteral("#");
constexpr int DefaultStreams = 6;
constexpr int TempDirCandidates = 1000;

QString &appRootOverride()
{
    static QString path;
    return path;
}

} // namespace

Configuration::Configuration(QObject *parent)
    : QObject(parent),
      updateServerHost(UpdateChecker::defaultHost()),
      updateServerPort(UpdateChecker::DefaultPort)
{
}

QString Configuration::getAppRootPath()
{
    if (!appRootOverride().isEmpty())
        return appRootOverride();
    return QCoreApplication::applicationDirPath();
}

void Configuration::setAppRootPath(const QString &path)
{
    appRootOverride() = path;
}

QString Configuration::getUpdateType()
{
    return QStringLiteral("client_linux_x86");
}

QString Configuration::getClientBinaryName()
{
    return QStringLiteral("hvxclient_runscript.sh");
}

const QString &Configuration::getSpecialFileRenamePrefix()
{
    static const QString prefix = QStringLiteral("_old_");
    return prefix;
}

QStringList Configuration::getSpecialFileNames()
{
    return {
        QStringLiteral("update"),
        QStringLiteral("libQtCore.so.4"),
        QStringLiteral("libQtGui.so.4"),
        QStringLiteral("libQtNetwork.so.4"),
        QStringLiteral("libqgif.so"),
        QStringLiteral("libqjpeg.so"),
        QStringLiteral("libqtaccessiblewidgets.so"),
    };
}

void Configuration::setRetryQuestion(RetryQuestion question)
{
    retryQuestion = std::move(question);
}

void Configuration::setUpdateServer(const QString &host, quint16 port)
{
    updateServerHost = host;
    updateServerPort = port;
}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList &arguments)
{
    getUpdateChannel();
    unattended = 0;

    if (arguments.size() >= 2 && arguments.at(1) == NoUserOption) {
        // A lone client type after --nouser is ignored: type and version
        // come as a pair or not at all.
        if (arguments.size() > 3 && !getClientTypeVersion(arguments, 2))
            return false;
        if (arguments.size() > 4 && arguments.at(4) != NoLabel)
            versionString = arguments.at(4);
        if (arguments.size() > 5)
            newsText = arguments.at(5);
        if (!getDefaultParameters())
            return false;
        unattended = 1;
        return true;
    }

    if (arguments.size() == 3)
        return getClientTypeVersion(arguments, 1);

    return getDefaultParameters();
}

void Configuration::getUpdateChannel()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    const QString alpha = settings.value(QStringLiteral("alpha")).toString();
    const bool beta = settings.value(QStringLiteral("beta"), false).toBool();
    if (!alpha.isEmpty()) {
        channel = Alpha;
        clientVersion = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
    } else {
        channel = beta ? Beta : Stable;
        clientVersion = 0;
    }
    settings.endGroup();
}

bool Configuration::getClientTypeVersion(const QStringList &args, int index)
{
    if (index >= args.size()) {
        emit fatalError(QStringLiteral("No client type specified"));
        return false;
    }
    clientType = args.at(index);
    if (index + 1 >= args.size()) {
        emit fatalError(QStringLiteral("No client version specified"));
        return false;
    }
    return getClientVersionFromString(
            args.at(index + 1), QCoreApplication::translate("QObject", "Invalid version nr (%1)"));
}

bool Configuration::getClientVersionFromString(const QString &text, const QString &errorFormat)
{
    // On the alpha channel update.ini may already have fixed the version;
    // it wins over the command line and the server.
    if (clientVersion != 0)
        return true;

    bool ok = false;
    clientVersion = text.toInt(&ok, 10);
    if (!ok) {
        clientVersion = 0;
        emit fatalError(errorFormat.arg(text));
        return false;
    }
    return true;
}

bool Configuration::getDefaultParameters()
{
    if (clientType.isEmpty())
        clientType = getUpdateType();
    if (clientVersion != 0)
        return true;

    const QPair<QString, QString> latest = getLatestClientVersion(channel, newsText);
    // Given up, or no entry for the channel: the caller ends the program
    // without a message of its own.
    if (latest.first.isEmpty())
        return false;
    if (!getClientVersionFromString(
                latest.first,
                QCoreApplication::translate("QObject",
                                            "Update server returned invalid version nr (%1)"))) {
        return false;
    }
    versionString = latest.second;
    return true;
}

QPair<QString, QString> Configuration::getLatestClientVersion(UpdateChannel channel,
                                                              QString &news)
{
    UpdateChecker checker(updateServerHost, updateServerPort);
    while (!checker.checkUpdate()) {
        if (!retryQuestion || !retryQuestion())
            return qMakePair(QString(), QString());
    }
    news = checker.news;
    return checker.getClientVersionByChannel(channel);
}

void Configuration::getProxyAndDownloadConcurrency()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    proxy = settings.value(QStringLiteral("proxy")).toString();
    bool ok = false;
    streams = settings.value(QStringLiteral("streams"), DefaultStreams).toInt(&ok);
    if (!ok || streams < 1)
        streams = DefaultStreams;
    settings.endGroup();
}

bool Configuration::isSpecialFileName(const QString &name) const
{
    return getSpecialFileNames().contains(name, Qt::CaseSensitive);
}

bool Configuration::initalizeStart(const QString &dir)
{
    if (dir.isEmpty())
        return createTempDir();
    tempDir = dir;
    return true;
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        emit fatalError(QStringLiteral("Unable to get temp directory."));
        return false;
    }
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    base += QLatin1String("halvex_temp_");

    // The system's temporary directory is shared with other local users. A
    // name that someone else created first, even a moment ago, must never be
    // adopted, or its owner could swap the verified files before they are
    // installed: mkdir creates the name atomically or fails, and only the
    // owner may enter what it creates.
    for (int n = 0; n < TempDirCandidates; ++n) {
        const QString candidate = base + QString::number(n);
        if (::mkdir(QFile::encodeName(candidate).constData(), S_IRWXU) == 0) {
            tempDir = candidate;
            return true;
        }
    }
    emit fatalError(QStringLiteral("Unable to create temp directory."));
    return false;
}
