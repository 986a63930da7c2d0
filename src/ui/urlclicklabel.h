#pragma once

#include <QLabel>
#include <QString>

// A label that opens a stored address when clicked: the window's logo and its
// banner image.
class UrlClickLabel final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UrlClickLabel)

public:
    explicit UrlClickLabel(QWidget *parent = nullptr);

    void setUrl(const QString &url);
    QString getUrl() const { return url; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString url;
};
