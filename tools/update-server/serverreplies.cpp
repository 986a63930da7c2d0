#include "serverreplies.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace {

// The updater reads no more than this of each reply.
constexpr int VersionReplyMax = 511;
constexpr int NewsReplyMax = 4095;
constexpr int BannerReplyMax = 1024;

bool readText(const QSettings &settings, const QString &key, QString *value, QString *error)
{
    const QVariant stored = settings.value(key);
    if (stored.typeId() == QMetaType::QStringList) {
        *error = QStringLiteral("%1: put the value in double quotes, it holds a comma").arg(key);
        return false;
    }
    *value = stored.toString();
    return true;
}

bool isLatin1(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xff; });
}

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

bool fits(const QByteArray &reply, int max, const QString &what, QString *error)
{
    if (reply.size() <= max)
        return true;
    *error = QStringLiteral("%1 is %2 bytes long; the updater reads at most %3")
                     .arg(what)
                     .arg(reply.size())
                     .arg(max);
    return false;
}

} // namespace

bool ServerReplies::load(const QString &path, QString *error)
{
    const QFileInfo file(path);
    if (!file.exists()) {
        *error = QStringLiteral("settings file '%1' does not exist").arg(path);
        return false;
    }
    if (!file.isFile() || !file.isReadable()) {
        *error = QStringLiteral("settings file '%1' cannot be read").arg(path);
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("settings file '%1' is not a valid INI file").arg(path);
        return false;
    }

    const QStringList channelKeys = {QStringLiteral("versions/stable"),
                                     QStringLiteral("versions/beta"),
                                     QStringLiteral("versions/alpha")};
    qsizetype channelCount = channelKeys.size();
    while (channelCount > 0 && !settings.contains(channelKeys.at(channelCount - 1)))
        --channelCount;
    QStringList entries;
    for (qsizetype i = 0; i < channelCount; ++i) {
        QString entry;
        if (!readText(settings, channelKeys.at(i), &entry, error))
            return false;
        if (entry.contains(QLatin1Char(','))) {
            *error = QStringLiteral("%1: a comma would split the entry in two")
                             .arg(channelKeys.at(i));
            return false;
        }
        entries.append(entry);
    }
    const QString versions = entries.join(QLatin1Char(','));

    QString news;
    if (!readText(settings, QStringLiteral("news/text"), &news, error))
        return false;
    if (!isLatin1(versions) || !isLatin1(news)) {
        *error = QStringLiteral("versions and news must be Latin-1 text");
        return false;
    }
    versionReply = versions.toLatin1();
    newsReply = news.toLatin1();

    QString image;
    QString click;
    if (!readText(settings, QStringLiteral("banner/image"), &image, error)
        || !readText(settings, QStringLiteral("banner/click"), &click, error)) {
        return false;
    }
    bannerReply.clear();
    if (!image.isEmpty()) {
        if (!isAscii(image) || !isAscii(click) || image.contains(QLatin1Char(','))
            || click.contains(QLatin1Char(','))) {
            *error = QStringLiteral("banner addresses must be ASCII without commas");
            return false;
        }
        bannerReply = image.toLatin1() + ',' + click.toLatin1();
    }

    return fits(versionReply, VersionReplyMax, QStringLiteral("the version list"), error)
            && fits(newsReply, NewsReplyMax, QStringLiteral("the news line"), error)
            && fits(bannerReply, BannerReplyMax, QStringLiteral("the banner reply"), error);
}
