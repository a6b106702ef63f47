#include "debuglog.h"
#include "tq470_bootloader.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    const QString localeName = QLocale::system().name();
    QApplication app(argc, argv);
    DebugLog::installPlainHandler();

    // Found relative to the working directory by Qt's default rules, which also try the
    // name cut back at each underscore. Without any translation the source texts show.
    QTranslator translator;
    if (!translator.load("tq470_" + localeName))
        static_cast<void>(translator.load("tq470_en"));
    app.installTranslator(&translator);

    TQ470_Bootloader window;
    window.show();
    return app.exec();
}
