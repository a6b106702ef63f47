#include "samplefirmware.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>

#include <cstdio>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int usageError(const QString &message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(message), qPrintable(QCoreApplication::applicationName()));
    return ExitUsage;
}

} // namespace

// tq470-sample-firmware [--seed N] OUT.hex: writes the sample firmware as Intel HEX.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tq470-sample-firmware"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TQ470_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a deterministic sample firmware for the Tq470 as Intel HEX: the "
                       "whole application region, made from SEED (default %1).")
            .arg(SampleFirmware::DefaultSeed));
    parser.addHelpOption();
    const QCommandLineOption versionOption({QStringLiteral("V"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    parser.addOption(versionOption);
    parser.addPositionalArgument(QStringLiteral("OUT.hex"), QStringLiteral("The file to write."));
    parser.addPositionalArgument(QStringLiteral("SEED"),
                                 QStringLiteral("Another firmware from another number."),
                                 QStringLiteral("[SEED]"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty() || arguments.size() > 2)
        return usageError(QStringLiteral("name one output file, and at most one seed"));

    quint32 seed = SampleFirmware::DefaultSeed;
    if (arguments.size() == 2) {
        bool isNumber = false;
        seed = arguments.at(1).toUInt(&isNumber, 0);
        if (!isNumber)
            return usageError(
                QStringLiteral("the seed must be a number, not '%1'").arg(arguments.at(1)));
    }
    QSaveFile file(arguments.at(0));
    if (!file.open(QIODevice::WriteOnly) || file.write(SampleFirmware(seed).intelHex()) < 0 ||
        !file.commit()) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(arguments.at(0)),
                     qPrintable(file.errorString()));
        return ExitFailure;
    }
    return 0;
}
