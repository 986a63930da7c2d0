#pragma once

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// The release channel an installation follows; the value is also the index
// into the update server's version list.
enum UpdateChannel {
    Stable = 0,
    Beta = 1,
    Alpha = 2,
};

// The settings of one run of the updater, settled from the command line,
// update.ini and, where the command line names no version, the update server.
// There is one per process; everything else holds a pointer to it.
class Configuration final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Configuration)

public:
    // Asked after each failed latest-version query: true retries, false gives
    // up. The program asks the user in a message box; without an answerer the
    // query is not retried.
    using RetryQuestion = std::function<bool()>;

    explicit Configuration(QObject *parent = nullptr);

    static QString getAppRootPath();
    // Tests run against an installation directory of their own; an empty path
    // returns to the directory of the running executable.
    static void setAppRootPath(const QString &path);

    static QString getUpdateType();
    static QString getClientBinaryName();
    static const QString &getSpecialFileRenamePrefix();
    static QStringList getSpecialFileNames();

    void setRetryQuestion(RetryQuestion question);
    // Host and port of the latest-version query; tests point it at a server
    // of their own.
    void setUpdateServer(const QString &host, quint16 port);

    bool parseCommandLineOptions();
    // As above, with the arguments given instead of taken from the application
    // object (index 0 is the program name).
    bool parseCommandLineOptions(const QStringList &arguments);
    void getUpdateChannel();
    bool getClientTypeVersion(const QStringList &args, int index);
    bool getClientVersionFromString(const QString &text, const QString &errorFormat);
    bool getDefaultParameters();
    QPair<QString, QString> getLatestClientVersion(UpdateChannel channel, QString &news);
    void getProxyAndDownloadConcurrency();
    bool isSpecialFileName(const QString &name) const;
    bool initalizeStart(const QString &dir);
    bool createTempDir();

    int unattended = 0;
    UpdateChannel channel = Stable;
    QString clientType;
    int clientVersion = 0;
    QString versionString;
    QString newsText;
    QString tempDir;
    QString proxy;
    int streams = 0;

signals:
    void fatalError(const QString &errorMessage);
    void message(const QString &message);

private:
    RetryQuestion retryQuestion;
    QString updateServerHost;
    quint16 updateServerPort;
};
