#include "changelogviewer.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScreen>
#include <QSettings>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "core/configuration.h"
#include "core/randomsource.h"
#include "download/mirrors.h"

namespace {

constexpr int ExtraWidth = 50;
constexpr int DefaultWidth = 500;
constexpr int DefaultHeight = 500;

const QString ChangelogFile = QStringLiteral("changelog_client.txt");

// base, then "/" unless base ends with one, then path.
QString joined(const QString &base, const QString &path)
{
    return base.endsWith(QLatin1Char('/')) ? base + path : base + QLatin1Char('/') + path;
}

} // namespace

ChangeLogViewer *ChangeLogViewer::m_instance = nullptr;

ChangeLogViewer::ChangeLogViewer(QWidget *parent)
    : QDialog(parent, Qt::WindowSystemMenuHint),
      textEdit(new QTextEdit(this))
{
    setObjectName(QStringLiteral("ChangeLogViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Changelog"));

    textEdit->setObjectName(QStringLiteral("changeLogTextEdit"));
    textEdit->setReadOnly(true);
    textEdit->setLineWrapMode(QTextEdit::NoWrap);
    QFont typewriter;
    typewriter.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    QFont font = textEdit->font();
    font.setFamily(typewriter.defaultFamily());
    textEdit->setFont(font);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
}

ChangeLogViewer::~ChangeLogViewer()
{
    // A fetch still in flight goes with the dialog and must not report back
    // to it.
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
    if (m_instance == this)
        m_instance = nullptr;
}

void ChangeLogViewer::showRemoteChangeLogDialog(QWidget *parent, const QString &version)
{
    if (!m_instance) {
        m_instance = new ChangeLogViewer(parent);
        m_instance->requestRemote(version);
    }
    m_instance->show();
    m_instance->raise();
    m_instance->activateWindow();
}

void ChangeLogViewer::requestRemote(const QString &version)
{
    if (reply)
        return;
    showText(tr("Loading..."));
    if (!version.isEmpty())
        this->version = version;

    const QString base = getRemoteUrl();
    if (base.isEmpty()) {
        showText(tr("Failed to load changelog."));
        return;
    }

    if (!networkManager) {
        networkManager = new QNetworkAccessManager(this);
        // A mirror that moved its files is passed over, not followed.
        networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    const QUrl url(joined(joined(base, this->version), ChangelogFile));
    reply = networkManager->get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, &ChangeLogViewer::onRequestFinished);

    if (!timeoutTimer) {
        timeoutTimer = new QTimer(this);
        timeoutTimer->setSingleShot(true);
        timeoutTimer->setTimerType(Qt::PreciseTimer);
        timeoutTimer->setInterval(TimeoutMs);
        connect(timeoutTimer, &QTimer::timeout, this, &ChangeLogViewer::onRequestTimeout);
    }
    timeoutTimer->start();
}

QString ChangeLogViewer::getRemoteUrl()
{
    if (mirrorsRead)
        return getRandomMirror();
    mirrorsRead = true;

    const QString root = Configuration::getAppRootPath();
    const QString updateIni = root + QStringLiteral("/update.ini");
    if (QFile::exists(updateIni)) {
        const QSettings settings(updateIni, QSettings::IniFormat);
        const QString alpha = settings.value(QStringLiteral("Channel/alpha")).toString();
        // The alpha builds have one home only: no mirror is asked for them.
        if (!alpha.isEmpty())
            return alpha;
    }

    const QString mirrorsIni = root + QStringLiteral("/mirrors.ini");
    if (QFile::exists(mirrorsIni)) {
        // The pool reads mirrors.ini as the update does. Its address for a
        // mirror is the configured one followed by the version, which is the
        // base this dialog adds the version to; so the version is left out
        // here (0 stands for it) and added with the file name.
        Mirrors pool(nullptr);
        pool.initDefault(mirrorsIni, 0);
        for (const FTPSiteAccessData &mirror : pool.getMirrors()) {
            QString address = mirror.url;
            address.chop(1);
            // A mirror without an address in its group has nothing to offer.
            if (address != QLatin1String("/"))
                mirrorUrls.append(address);
        }
        return getRandomMirror();
    }
    return QString();
}

QString ChangeLogViewer::getRandomMirror()
{
    if (mirrorUrls.isEmpty())
        return QString();
    return mirrorUrls.takeAt(RandomSource::bounded(int(mirrorUrls.size())));
}

void ChangeLogViewer::onRequestFinished()
{
    if (!reply)
        return;
    QNetworkReply *finished = reply;
    reply = nullptr;
    finished->deleteLater();
    if (finished->error() == QNetworkReply::NoError) {
        const QString text = QString::fromLocal8Bit(finished->readAll());
        // A mirror's page saying that the file lives elsewhere is no
        // changelog: the next mirror is asked instead.
        if (!text.contains(QLatin1String("document has moved"))) {
            load(text);
            return;
        }
    }
    requestRemote(QString());
}

void ChangeLogViewer::onRequestTimeout()
{
    // The aborted reply finishes with an error, which moves on to the next
    // mirror.
    if (reply)
        reply->abort();
}

void ChangeLogViewer::showText(const QString &text)
{
    textEdit->setText(text);
}

void ChangeLogViewer::load(const QString &text)
{
    textEdit->setText(text);
    if (text.isEmpty())
        return;

    const QFontMetrics metrics(textEdit->currentFont());
    int width = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        width = qMax(width, metrics.horizontalAdvance(line));
    width = width == 0 ? DefaultWidth : width + ExtraWidth;
    int height = DefaultHeight;

    if (const QScreen *screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        if (available.isValid()) {
            width = qMin(width, available.width());
            height = qMin(height, available.height());
        }
    }
    resize(width, height);
}
