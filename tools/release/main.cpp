// halvex-release: what a release engineer runs to publish a release of the
// Halvex client that the updater accepts.
#include "releaseerror.h"
#include "releasefiles.h"
#include "releasekey.h"
#include "releasepacker.h"

#include "crypto/cryptfunctions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
const QString Program = QStringLiteral("halvex-release");

// A command line that cannot be carried out as written.
class UsageError final : public std::runtime_error
{
public:
    explicit UsageError(const QString &text) : std::runtime_error(text.toStdString()), text(text) {}
    QString text;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

const char *const Overview =
    "Usage: halvex-release COMMAND [options]\n"
    "\n"
    "Publishes releases of the Halvex client that the updater accepts: a product ini\n"
    "signed with RSA-PSS (SHA-1, salt length 8) and the files it describes, laid out\n"
    "as the mirrors serve them.\n"
    "\n"
    "Commands:\n"
    "  keygen   create a new key pair: public.der and private.der\n"
    "  pack     lay out a release under a mirror root, with its signed product ini\n"
    "  sign     sign a file, writing FILE.sig\n"
    "  verify   check a file against FILE.sig\n"
    "\n"
    "Run 'halvex-release COMMAND --help' for the options of a command.\n"
    "Exit status: 0 on success, 1 on failure (or an invalid signature), 2 on a\n"
    "command-line error.\n";

// A parser for one command, with --help and the command's own options.
class CommandParser
{
public:
    CommandParser(const QString &command, const QString &description) : command(command)
    {
        parser.setApplicationDescription(description);
        parser.addHelpOption();
    }

    void addOption(const QString &name, const QString &description, const QString &valueName = {})
    {
        parser.addOption(QCommandLineOption(name, description, valueName));
    }

    void addPositional(const QString &name, const QString &description)
    {
        parser.addPositionalArgument(name, description);
        positionalNames << name;
    }

    // False when --help was given and shown.
    bool parse(const QStringList &arguments)
    {
        if (!parser.parse(QStringList {Program} + arguments))
            throw UsageError(parser.errorText());
        if (parser.isSet(QStringLiteral("help"))) {
            // The parser names the program as it was started and knows
            // nothing of commands; its first line is rewritten.
            QString help = parser.helpText();
            QString usage = QStringLiteral("Usage: %1 %2 [options]").arg(Program, command);
            if (!positionalNames.isEmpty())
                usage += u' ' + positionalNames.join(u' ');
            help.replace(0, help.indexOf(u'\n'), usage);
            out() << help;
            return false;
        }
        if (parser.positionalArguments().size() != positionalNames.size()) {
            throw UsageError(positionalNames.isEmpty()
                                 ? QStringLiteral("unexpected argument %1")
                                       .arg(parser.positionalArguments().constFirst())
                                 : QStringLiteral("expected %1").arg(positionalNames.join(u' ')));
        }
        return true;
    }

    QString value(const QString &name) const { return parser.value(name); }
    QStringList values(const QString &name) const { return parser.values(name); }
    bool isSet(const QString &name) const { return parser.isSet(name); }
    QString positional(int index) const { return parser.positionalArguments().at(index); }

    QString required(const QString &name) const
    {
        const QString text = parser.value(name);
        if (text.isEmpty())
            throw UsageError(QStringLiteral("--%1 is required").arg(name));
        return text;
    }

    const QString command;

private:
    QCommandLineParser parser;
    QStringList positionalNames;
};

void warnUnlessBuiltIn(const ReleaseKey &key)
{
    if (!key.matchesBuiltIn()) {
        out() << "warning: " << key.origin()
              << " is not the key pair built into this updater; only updaters built with its "
                 "public half accept the signature\n";
    }
}

int keygen(const QStringList &arguments)
{
    CommandParser parser(QStringLiteral("keygen"),
                         QStringLiteral("Creates a new 1024-bit RSA key pair (exponent 65537) in DIR:\n"
                                        "public.der, the PKCS#1 RSAPublicKey that HALVEX_PUBLIC_KEY\n"
                                        "takes, and private.der, the PKCS#1 RSAPrivateKey that signs\n"
                                        "releases. Both are plain DER files that openssl reads.\n"
                                        "Existing files are never overwritten. Keep private.der out\n"
                                        "of every repository."));
    parser.addOption(QStringLiteral("out"), QStringLiteral("Directory for the key pair (created if missing)."),
                     QStringLiteral("DIR"));
    if (!parser.parse(arguments))
        return 0;
    const QDir dir(parser.required(QStringLiteral("out")));
    const QString publicPath = dir.filePath(QStringLiteral("public.der"));
    const QString privatePath = dir.filePath(QStringLiteral("private.der"));
    for (const QString &path : {publicPath, privatePath}) {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            throw ReleaseError(QStringLiteral("%1 already exists; keygen never overwrites a key").arg(path));
    }
    if (!QDir().mkpath(dir.path()))
        throw ReleaseError(QStringLiteral("cannot create directory %1").arg(dir.path()));

    ReleaseKey key;
    key.generate();
    const QByteArray privateDer = key.exportDer(PK_PRIVATE);
    const QByteArray publicDer = key.exportDer(PK_PUBLIC);
    // The private key is readable by its owner only from the moment it exists.
    QFile privateFile(privatePath);
    if (!privateFile.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                          QFile::ReadOwner | QFile::WriteOwner)
        || privateFile.write(privateDer) != privateDer.size() || !privateFile.flush()) {
        throw ReleaseError(QStringLiteral("cannot write %1: %2").arg(privatePath, privateFile.errorString()));
    }
    privateFile.close();
    ReleaseFiles::writeNew(publicPath, publicDer);
    out() << "wrote " << publicPath << " (" << publicDer.size() << " bytes) and " << privatePath
          << " (" << privateDer.size() << " bytes)\n";
    return 0;
}

int pack(const QStringList &arguments)
{
    CommandParser parser(QStringLiteral("pack"),
                         QStringLiteral(
                             "Lays out release VERSION as the mirrors serve it, in MIRROR_ROOT/VERSION/:\n"
                             "  SECTION/...            the files of RELEASE_DIR under their relative paths;\n"
                             "                         a file whose name matches a --gzip pattern is stored\n"
                             "                         compressed as NAME.gz\n"
                             "  TYPE.ini               the product ini: MD5 sums and sizes of every file, and\n"
                             "                         a [delete] section with the files of the previous\n"
                             "                         release that this one no longer has\n"
                             "  TYPE.ini.sig           its signature, made with the private key\n"
                             "  changelog_client.txt   the changelog, when given\n"
                             "The version directory must not exist yet; it appears only when complete."));
    parser.addOption(QStringLiteral("key"), QStringLiteral("Private key that signs the product ini."),
                     QStringLiteral("PRIVATE"));
    parser.addOption(QStringLiteral("type"),
                     QStringLiteral("Update type, the product ini's name without .ini (e.g. client_linux_x86)."),
                     QStringLiteral("TYPE"));
    parser.addOption(QStringLiteral("version"), QStringLiteral("Client version, a decimal number."),
                     QStringLiteral("N"));
    parser.addOption(QStringLiteral("from"), QStringLiteral("Directory holding the release as installed."),
                     QStringLiteral("RELEASE_DIR"));
    parser.addOption(QStringLiteral("mirror"),
                     QStringLiteral("Mirror root: the directory with one subdirectory per version."),
                     QStringLiteral("MIRROR_ROOT"));
    parser.addOption(QStringLiteral("section"),
                     QStringLiteral("Section of the product ini and directory of the files on the mirror "
                                    "(default: TYPE)."),
                     QStringLiteral("NAME"));
    parser.addOption(QStringLiteral("previous"),
                     QStringLiteral("Directory holding the previous release; its files missing from this "
                                    "release are listed for deletion."),
                     QStringLiteral("OLD_RELEASE_DIR"));
    parser.addOption(QStringLiteral("gzip"),
                     QStringLiteral("Store files whose name matches this shell wildcard (e.g. '*.so') "
                                    "compressed; may be repeated."),
                     QStringLiteral("PATTERN"));
    parser.addOption(QStringLiteral("changelog"),
                     QStringLiteral("Text file published as changelog_client.txt."), QStringLiteral("FILE"));
    if (!parser.parse(arguments))
        return 0;

    PackOptions options;
    options.keyPath = parser.required(QStringLiteral("key"));
    options.type = parser.required(QStringLiteral("type"));
    const QString version = parser.required(QStringLiteral("version"));
    bool ok = false;
    options.version = version.toInt(&ok);
    const bool digitsOnly = std::all_of(version.cbegin(), version.cend(),
                                        [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!ok || !digitsOnly)
        throw UsageError(QStringLiteral("--version %1 is not a decimal version number").arg(version));
    options.fromDir = parser.required(QStringLiteral("from"));
    options.mirrorRoot = parser.required(QStringLiteral("mirror"));
    if (parser.isSet(QStringLiteral("section")))
        options.section = parser.required(QStringLiteral("section"));
    options.previousDir = parser.value(QStringLiteral("previous"));
    options.gzipPatterns = parser.values(QStringLiteral("gzip"));
    options.changelog = parser.value(QStringLiteral("changelog"));

    ReleasePacker packer(options, out());
    packer.run();
    return 0;
}

int sign(const QStringList &arguments)
{
    CommandParser parser(QStringLiteral("sign"),
                         QStringLiteral("Signs FILE with the private key and writes the raw signature to\n"
                                        "FILE.sig, which must not exist yet."));
    parser.addOption(QStringLiteral("key"), QStringLiteral("Private key."), QStringLiteral("PRIVATE"));
    parser.addPositional(QStringLiteral("FILE"), QStringLiteral("File to sign."));
    if (!parser.parse(arguments))
        return 0;
    ReleaseKey key;
    key.loadFile(parser.required(QStringLiteral("key")));
    const QString path = parser.positional(0);
    const QString sigPath = path + QStringLiteral(".sig");
    if (QFileInfo::exists(sigPath))
        throw ReleaseError(QStringLiteral("%1 already exists; remove it first").arg(sigPath));
    const QByteArray data = ReleaseFiles::readAll(path);
    const QByteArray signature = key.sign(data);
    ReleaseFiles::writeNew(sigPath, signature);
    warnUnlessBuiltIn(key);
    out() << "wrote " << sigPath << " (" << signature.size() << " bytes)\n";
    return 0;
}

int verify(const QStringList &arguments)
{
    CommandParser parser(QStringLiteral("verify"),
                         QStringLiteral("Checks FILE against the signature in FILE.sig, with the key built\n"
                                        "into the updater unless --key names another. Exits with 0 only\n"
                                        "when the signature is valid."));
    parser.addOption(QStringLiteral("key"), QStringLiteral("Public (or private) key to check against."),
                     QStringLiteral("PUBLIC"));
    parser.addPositional(QStringLiteral("FILE"), QStringLiteral("Signed file."));
    if (!parser.parse(arguments))
        return 0;
    ReleaseKey key;
    if (parser.isSet(QStringLiteral("key")))
        key.loadFile(parser.required(QStringLiteral("key")));
    else
        key.loadBuiltIn();
    const QString path = parser.positional(0);
    const QByteArray data = ReleaseFiles::readAll(path);
    const QByteArray signature = ReleaseFiles::readAll(path + QStringLiteral(".sig"));
    bool valid = false;
    QString reason;
    try {
        valid = key.verify(data, signature);
    } catch (const ReleaseError &e) {
        reason = QStringLiteral(" (%1)").arg(e.message());
    }
    if (!valid) {
        err() << path << ": signature INVALID for " << key.origin() << reason << "\n";
        return ExitFailure;
    }
    out() << path << ": signature valid for " << key.origin() << "\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Program);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        err() << Overview;
        return ExitUsage;
    }
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        out() << Overview;
        return 0;
    }
    try {
        crypt_init();
        if (command == QLatin1String("keygen"))
            return keygen(arguments);
        if (command == QLatin1String("pack"))
            return pack(arguments);
        if (command == QLatin1String("sign"))
            return sign(arguments);
        if (command == QLatin1String("verify"))
            return verify(arguments);
        throw UsageError(QStringLiteral("unknown command '%1'").arg(command));
    } catch (const UsageError &e) {
        err() << Program << ": " << e.text << "\n"
              << "Run '" << Program << " --help' for usage.\n";
        return ExitUsage;
    } catch (const ReleaseError &e) {
        err() << Program << ": error: " << e.message() << "\n";
        return ExitFailure;
    } catch (const crypt_exception &e) {
        err() << Program << ": error: " << QString::fromLocal8Bit(e.what()) << "\n";
        return ExitFailure;
    }
}
