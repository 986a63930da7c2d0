#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QTextEdit;
class QTimer;

// The changelog of the target version, fetched from the alpha channel's
// address or from the download mirrors one after another, and shown sized to
// its widest line. There is at most one such dialog at a time.
class ChangeLogViewer final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChangeLogViewer)

public:
    // How long one address may take before the next one is asked.
    static constexpr int TimeoutMs = 2000;

    explicit ChangeLogViewer(QWidget *parent);
    ~ChangeLogViewer() override;

    // Opens the dialog, or brings the open one to the front without a new
    // fetch.
    static void showRemoteChangeLogDialog(QWidget *parent, const QString &version);
    // The open dialog, or null.
    static ChangeLogViewer *instance() { return m_instance; }

    void requestRemote(const QString &version);
    QString getRemoteUrl();
    QString getRandomMirror();
    void load(const QString &text);

private slots:
    void onRequestFinished();
    void onRequestTimeout();

private:
    void showText(const QString &text);

    QTextEdit *textEdit;
    QNetworkAccessManager *networkManager = nullptr;
    QNetworkReply *reply = nullptr;
    QTimer *timeoutTimer = nullptr;
    // Mirror addresses of this version not tried yet.
    QStringList mirrorUrls;
    bool mirrorsRead = false;
    QString version;

    static ChangeLogViewer *m_instance;
};
