#include "launcheroptions.h"
#include "simulatorlauncher.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString program = QStringLiteral("tq470-sim");

    LauncherOptions options;
    switch (options.parse(arguments)) {
    case LauncherOptions::Outcome::Help:
        std::fputs(LauncherOptions::helpText(program).toLocal8Bit().constData(), stdout);
        return 0;
    case LauncherOptions::Outcome::Version:
        std::printf("%s %s\n", program.toLocal8Bit().constData(), TQ470_VERSION);
        return 0;
    case LauncherOptions::Outcome::Invalid:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                     program.toLocal8Bit().constData(), options.error().toLocal8Bit().constData(),
                     program.toLocal8Bit().constData());
        return SimulatorLauncher::ExitUsage;
    case LauncherOptions::Outcome::Run:
        break;
    }
    return SimulatorLauncher(options).run();
}
