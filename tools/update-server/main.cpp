#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include "core/updatechecker.h"
#include "serverreplies.h"
#include "updateserver.h"

#include <cstdio>

namespace {

// The updater sends its banner request to this port.
constexpr quint16 DefaultBannerPort = 2009;

const char Description[] = R"(Answers the UDP queries of the Halvex updater: the latest-version and the
news request on --port, the banner request on --banner-port. The replies come
from the settings file, which is read once at start:

  [versions]
  stable=1200#3.0.1      version number, "#", label shown to the user
  beta=1250#3.0.2-beta   the label may be left out: beta=1250
  alpha=1300
  [news]
  text="Welcome, testers"
  [banner]
  image=http://www.halvex.example/banner.png   banner image address
  click=http://www.halvex.example/             address a click on it opens

The version reply lists stable, beta and alpha in this order, up to the last
one present; a channel missing before a present one is sent empty. Put values
holding a comma or a semicolon in double quotes. Versions and news are sent as
Latin-1, banner addresses as ASCII. Without an image, banner requests go
unanswered. Port 0 lets the system choose; the ports in use are printed at
start, then one line per request.)";

int fail(const QString &message)
{
    std::fprintf(stderr, "halvex-update-server: %s\n", qPrintable(message));
    return 1;
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    *port = text.toUShort(&ok, 10);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("halvex-update-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    parser.addHelpOption();
    const QCommandLineOption bindOption(
            QStringLiteral("bind"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
            QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(
            QStringLiteral("port"),
            QStringLiteral("UDP port of the version and news requests (default %1).")
                    .arg(UpdateChecker::DefaultPort),
            QStringLiteral("port"), QString::number(UpdateChecker::DefaultPort));
    const QCommandLineOption bannerPortOption(
            QStringLiteral("banner-port"),
            QStringLiteral("UDP port of the banner request (default %1).").arg(DefaultBannerPort),
            QStringLiteral("port"), QString::number(DefaultBannerPort));
    parser.addOption(bindOption);
    parser.addOption(portOption);
    parser.addOption(bannerPortOption);
    parser.addPositionalArgument(QStringLiteral("settings"),
                                 QStringLiteral("INI file with the replies."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return fail(QStringLiteral("give exactly one settings file (see --help)"));

    QHostAddress address;
    if (!address.setAddress(parser.value(bindOption)))
        return fail(QStringLiteral("'%1' is not an IP address").arg(parser.value(bindOption)));
    quint16 queryPort = 0;
    quint16 bannerPort = 0;
    if (!parsePort(parser.value(portOption), &queryPort))
        return fail(QStringLiteral("'%1' is not a port number").arg(parser.value(portOption)));
    if (!parsePort(parser.value(bannerPortOption), &bannerPort)) {
        return fail(QStringLiteral("'%1' is not a port number")
                            .arg(parser.value(bannerPortOption)));
    }

    ServerReplies replies;
    QString error;
    if (!replies.load(positional.first(), &error))
        return fail(error);

    UpdateServer server(replies);
    if (!server.listen(address, queryPort, bannerPort, &error))
        return fail(error);
    return QCoreApplication::exec();
}
