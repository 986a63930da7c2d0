#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include "ui_mainwindow.h"

class Configuration;
class UpdateEngine;

// The updater's only window: target version and channel, news line, banner,
// progress, log and download figures, and the buttons that run the program.
// It owns the update engine and the listening side of the single-instance
// guard, asks before an update in progress is aborted, reports errors in
// message boxes and starts the client after a successful update.
class MainWindow final : public QWidget, private Ui::MainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(Configuration &configuration);

    // Shows the target version and channel; in the unattended run the start
    // button stays disabled, as the update starts by itself.
    void setUIToConfigSpecs();
    void setNews();

public slots:
    // Acts as a click on the start button, even while it is disabled.
    void onAutoStartUpdate();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onFatalConfigError(const QString &errorMessage);
    void onFatalError(const QString &errorMessage);
    void onError(const QString &errorMessage);
    void on_startButton_clicked();
    void onAppendText(const QString &text);
    void onProgressUpdate(qreal doneFrac);
    void onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed,
                            bool downloading);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onOtherInstanceActivate(const QString &message);
    void onBannerFound(const QByteArray &bannerImage, const QString &clickUrl);
    void onDetailsPressed();
    void on_changelogButton_clicked();

private:
    Configuration &configuration;
    UpdateEngine *engine;
    // While set, the start button starts the client.
    bool updateSucceeded = false;
    // The user agreed to abort while closing: the cancellation's end quits.
    bool quitAfterCancel = false;
};
