// update: the Halvex client updater.
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "core/configuration.h"
#include "core/singleinstancechecker.h"
#include "core/updateengine.h"
#include "ui/latestversionretrybox.h"
#include "ui/mainwindow.h"

namespace {

constexpr int AutoStartDelayMs = 2000;

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/images/application.ico")));

    // Files the previous update found in use were moved aside instead of
    // overwritten; nothing holds them any more.
    const QString root = Configuration::getAppRootPath();
    UpdateEngine::removeOldFiles(root);
    UpdateEngine::removeOldFiles(root + QStringLiteral("/imageformats"));
    UpdateEngine::removeOldFiles(root + QStringLiteral("/accessible"));

    if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
        return 0;

    // Both are installed even when nothing loads: the texts then stay English.
    // The toolkit's own catalogue is looked up below the working directory.
    const QString locale = QLocale::system().name();
    QTranslator programTranslator;
    (void)programTranslator.load(QStringLiteral(":/i18n/update_") + locale);
    QCoreApplication::installTranslator(&programTranslator);
    QTranslator toolkitTranslator;
    (void)toolkitTranslator.load(QStringLiteral("translations/qt_") + locale);
    QCoreApplication::installTranslator(&toolkitTranslator);

    Configuration configuration;
    configuration.setRetryQuestion(&LatestVersionRetryBox::ask);
    MainWindow window(configuration);

    // A failure has been shown by the window already.
    if (!configuration.parseCommandLineOptions())
        return 1;

    if (configuration.unattended == 1)
        QTimer::singleShot(AutoStartDelayMs, &window, &MainWindow::onAutoStartUpdate);
    window.setUIToConfigSpecs();
    window.show();
    window.setNews();
    return QApplication::exec();
}
