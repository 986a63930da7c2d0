#pragma once

#include <QBasicTimer>
#include <QWidget>

class QTextDocument;

// One line of rich-text news that scrolls from right to left, one pixel every
// 20 ms, and pauses for three seconds each time it has left the widget. A
// left click opens the product web site.
class NewsBanner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewsBanner)

public:
    explicit NewsBanner(QWidget *parent = nullptr);

    void setNews(const QString &news);

    // Where the text is drawn, in pixels from the left edge, and whether the
    // banner is in its pause between two passes.
    int offset() const { return xOffset; }
    bool isPaused() const { return paused; }
    int newsWidth() const { return textWidth; }

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QBasicTimer timer;
    QTextDocument *document;
    int xOffset = 0;
    int textWidth = 0;
    int textHeight = 0;
    bool paused = false;
};
