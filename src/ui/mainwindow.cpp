#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include "core/configuration.h"
#include "core/singleinstancechecker.h"
#include "core/updateengine.h"
#include "ui/changelogviewer.h"
#include "ui/processtools.h"

namespace {

constexpr int ClientStartDelayMs = 1000;
// The one message a second updater sends: come to the front.
const QString ActivateMessage = QStringLiteral("#");

QString errorTitle()
{
    return QCoreApplication::translate("QObject", "Error");
}

} // namespace

MainWindow::MainWindow(Configuration &configuration)
    : QWidget(nullptr),
      configuration(configuration),
      engine(new UpdateEngine(configuration, this))
{
    connect(engine, &UpdateEngine::error, this, &MainWindow::onError);
    connect(engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(engine, &UpdateEngine::updateProgress, this, &MainWindow::onProgressUpdate);
    connect(engine, &UpdateEngine::downloadProgress, this, &MainWindow::onDownloadProgress);
    connect(engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);
    connect(engine, &UpdateEngine::bannerFound, this, &MainWindow::onBannerFound);

    setupUi(this);
    // The notice links to the web site this build was made for.
    copyrightLabel->setText(copyrightLabel->text().arg(QStringLiteral(HALVEX_WEBSITE)));

    // Queued, so that the log pane has been shown or hidden by the toggle
    // before it is scrolled.
    connect(detailsButton, &QPushButton::clicked, this, &MainWindow::onDetailsPressed,
            Qt::QueuedConnection);
    halvexLabel->setUrl(QStringLiteral(HALVEX_WEBSITE));
    outputTextEdit->hide();
    onDownloadProgress(0, 0, 0, false);

    auto *instanceChecker = new SingleInstanceChecker(this);
    connect(instanceChecker, &SingleInstanceChecker::otherInstanceActivate, this,
            &MainWindow::onOtherInstanceActivate);
    // Connected before the command line is parsed, so that its errors reach
    // the user.
    connect(&configuration, &Configuration::fatalError, this, &MainWindow::onFatalConfigError);

    engine->getBanner();
}

void MainWindow::setUIToConfigSpecs()
{
    QString channelName;
    switch (configuration.channel) {
    case Stable:
        channelName = tr("Stable");
        break;
    case Beta:
        channelName = tr("Beta");
        break;
    case Alpha:
        channelName = tr("Alpha");
        break;
    }

    QString text;
    if (!configuration.versionString.isEmpty()) {
        text += QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
                + tr("Update to Halvex %1.").arg(configuration.versionString)
                + QStringLiteral("</div>");
    }
    text += QStringLiteral("<div style=\"margin-top:8px\">")
            + tr("You are currently on <strong>%1 channel</strong>.").arg(channelName)
            + QStringLiteral("</div>");
    versionLabel->setText(text);

    if (configuration.unattended == 1)
        startButton->setEnabled(false);
}

void MainWindow::setNews()
{
    newsBanner->setNews(configuration.newsText);
}

void MainWindow::onFatalConfigError(const QString &errorMessage)
{
    // Without parent: during start-up the window is not shown yet.
    QMessageBox::critical(nullptr, errorTitle(), errorMessage, QMessageBox::Ok);
    QCoreApplication::exit(1);
}

void MainWindow::onFatalError(const QString &errorMessage)
{
    QMessageBox::critical(this, errorTitle(), errorMessage, QMessageBox::Ok);
    QCoreApplication::exit(2);
}

void MainWindow::onError(const QString &errorMessage)
{
    onAppendText(errorMessage);
    QMessageBox::critical(this, errorTitle(), errorMessage, QMessageBox::Ok);
}

void MainWindow::onAutoStartUpdate()
{
    on_startButton_clicked();
}

void MainWindow::on_startButton_clicked()
{
    if (updateSucceeded) {
        ProcessTools::startHvxClient();
        close();
        return;
    }
    if (engine->busy())
        return;
    if (!engine->initialize())
        return;
    startButton->setEnabled(false);
    engine->startUpdate();
}

void MainWindow::onAppendText(const QString &text)
{
    outputTextEdit->append(text);
}

void MainWindow::onProgressUpdate(qreal doneFrac)
{
    totalProgressBar->setValue(static_cast<int>(doneFrac * 1000.0));
}

void MainWindow::onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed,
                                    bool downloading)
{
    for (QWidget *label : {static_cast<QWidget *>(totalSizeLabel),
                           static_cast<QWidget *>(totalTotalSizeLabel),
                           static_cast<QWidget *>(downloadSpeedLabel),
                           static_cast<QWidget *>(label_6)}) {
        label->setVisible(downloading);
    }
    if (!downloading)
        return;
    totalSizeLabel->setText(tr("%1 KB").arg(downloadDone / 1000));
    totalTotalSizeLabel->setText(tr("%1 KB").arg(downloadTotal / 1000));
    downloadSpeedLabel->setText(tr("%1 KB/s").arg(speed / 1000));
}

void MainWindow::onUpdateFinished()
{
    updateSucceeded = true;
    startButton->setText(tr("Start Halvex"));
    startButton->setEnabled(true);
    startButton->setFocus();
    // Someone reading the changelog keeps the window: the client then waits
    // for the click.
    if (configuration.unattended == 1 && !ChangeLogViewer::instance())
        QTimer::singleShot(ClientStartDelayMs, this, &MainWindow::on_startButton_clicked);
}

void MainWindow::onUpdateCanceled()
{
    if (quitAfterCancel) {
        QCoreApplication::exit(0);
        return;
    }
    updateSucceeded = false;
    engine->reset();
    startButton->setText(tr("Restart"));
    startButton->setEnabled(true);
    onAppendText(tr("Update cancelled"));
    totalProgressBar->setValue(0);
    QMessageBox::critical(this, tr("Update"),
                          tr("Update cancelled. Push \"Details\" to check reasons."),
                          QMessageBox::Ok);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!engine->busy()) {
        event->accept();
        return;
    }
    event->ignore();
    // Asked once: the cancellation is under way and ends the program.
    if (quitAfterCancel)
        return;
    const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Question"),
            tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
            QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    quitAfterCancel = true;
    engine->cancelUpdate();
}

void MainWindow::onOtherInstanceActivate(const QString &message)
{
    if (message != ActivateMessage)
        return;
    raise();
    activateWindow();
}

void MainWindow::onBannerFound(const QByteArray &bannerImage, const QString &clickUrl)
{
    QPixmap pixmap;
    if (!pixmap.loadFromData(bannerImage))
        return;
    const QUrl url(clickUrl);
    banner->setToolTip(tr("Click to open \"%1://%2\"").arg(url.scheme(), url.host()));
    banner->setUrl(clickUrl);
    // The label scales its contents to its fixed 468 x 60 area.
    banner->setPixmap(pixmap);
}

void MainWindow::onDetailsPressed()
{
    if (!outputTextEdit->isVisible())
        return;
    QScrollBar *scrollBar = outputTextEdit->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

void MainWindow::on_changelogButton_clicked()
{
    ChangeLogViewer::showRemoteChangeLogDialog(this, QString::number(configuration.clientVersion));
}
