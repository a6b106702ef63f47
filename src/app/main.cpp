#include "debuglog.h"
#include "tq470_bootloader.h"
#include "translationloader.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

namespace {

// The installed desktop entry's name without ".desktop": Wayland compositors take the window's
// icon and name from that entry.
const char *const DesktopFileName = "org.tq470.bootloader";

} // namespace

int main(int argc, char *argv[])
{
    const QLocale locale = QLocale::system();
    QApplication app(argc, argv);
    DebugLog::installPlainHandler();
    QGuiApplication::setDesktopFileName(QLatin1String(DesktopFileName));

    // A missing translation is not reported: the window shows its source texts.
    QTranslator translator;
    static_cast<void>(
        TranslationLoader(TranslationLoader::standardDirectories()).load(&translator, locale));
    app.installTranslator(&translator);

    TQ470_Bootloader window;
    window.show();
    return app.exec();
}
