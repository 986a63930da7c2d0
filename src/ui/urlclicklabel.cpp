#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget *parent)
    : QLabel(parent)
{
}

void UrlClickLabel::setUrl(const QString &url)
{
    this->url = url;
}

void UrlClickLabel::mousePressEvent(QMouseEvent *event)
{
    // Any button opens the address, and the click goes no further. Without an
    // address the desktop's handler is given an empty one and does nothing.
    QDesktopServices::openUrl(QUrl(url));
    event->accept();
}
