#include "newsbanner.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTimerEvent>
#include <QUrl>

namespace {

constexpr int ScrollIntervalMs = 20;
constexpr int PauseMs = 3000;
constexpr int Height = 16;
// The text enters this far inside the right edge and counts as gone once its
// end is this far beyond the left edge.
constexpr int EdgeMargin = 10;

} // namespace

NewsBanner::NewsBanner(QWidget *parent)
    : QWidget(parent),
      document(new QTextDocument(this))
{
    setMinimumHeight(Height);
    setMaximumHeight(Height);
    setObjectName(QStringLiteral("NewsBanner"));
    setCursor(Qt::PointingHandCursor);
    // The catalogue carries this text for the generic widget context.
    setToolTip(QCoreApplication::translate("QWidget", "Click to read latest Halvex news"));
}

void NewsBanner::setNews(const QString &news)
{
    document->setHtml(news);
    document->setDocumentMargin(0);
    paused = false;
    xOffset = width() - EdgeMargin;
    const QFontMetrics metrics(document->defaultFont());
    textWidth = metrics.horizontalAdvance(document->toPlainText());
    textHeight = metrics.height();
    timer.start(ScrollIntervalMs, Qt::PreciseTimer, this);
}

void NewsBanner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (paused) {
        paused = false;
        timer.start(ScrollIntervalMs, Qt::PreciseTimer, this);
    }
    --xOffset;
    repaint();
}

void NewsBanner::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    QDesktopServices::openUrl(QUrl(QStringLiteral(HALVEX_WEBSITE)));
    event->accept();
}

void NewsBanner::paintEvent(QPaintEvent *)
{
    if (paused)
        return;
    // The widget may have become narrower since the text entered.
    if (xOffset > width())
        xOffset = width() - EdgeMargin;
    QPainter painter(this);
    painter.translate(xOffset, (height() - textHeight) * 0.5);
    document->drawContents(&painter);
    if (xOffset + textWidth < -EdgeMargin) {
        xOffset = width() - EdgeMargin;
        paused = true;
        timer.start(PauseMs, Qt::PreciseTimer, this);
    }
}
