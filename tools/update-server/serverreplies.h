#pragma once

#include <QByteArray>
#include <QString>

// The three replies the server sends, built once from its settings file:
//
//   [versions]
//   stable=1200#3.0.1      version number, "#", label shown to the user
//   beta=1250#3.0.2-beta   the label may be left out: beta=1250
//   alpha=1300
//   [news]
//   text="Welcome, testers"
//   [banner]
//   image=http://www.halvex.example/banner.png
//   click=http://www.halvex.example/
//
// The version reply lists the channels in the order stable, beta, alpha, up
// to the last one present in the file; a channel missing before a present one
// goes out as an empty entry, which the updater takes as "no version". Values
// holding a comma or a semicolon must be quoted, as the INI reader would
// otherwise split them. Versions and news go out as Latin-1, the banner
// addresses as ASCII. Without an image the banner request goes unanswered.
class ServerReplies final
{
public:
    // False, with the reason in *error, when the file cannot be served.
    bool load(const QString &path, QString *error);

    QByteArray versionReply;
    QByteArray newsReply;
    // Empty when no banner is configured.
    QByteArray bannerReply;
};
