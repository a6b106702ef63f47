#include "translationloader.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace {

const char *const FilePrefix = "tq470_";
const char *const FallbackLanguage = "en";
const char *const WorkingDirectory = ".";

} // namespace

QStringList TranslationLoader::standardDirectories()
{
    const QString programDirectory = QCoreApplication::applicationDirPath();
    return {QLatin1String(WorkingDirectory), programDirectory,
            programDirectory + QLatin1Char('/') + QLatin1String(TQ470_TRANSLATIONS_FROM_BINDIR)};
}

bool TranslationLoader::load(QTranslator *translator, const QLocale &locale) const
{
    for (const QString &language : {locale.name(), QString::fromLatin1(FallbackLanguage)}) {
        for (const QString &directory : directories) {
            if (translator->load(QLatin1String(FilePrefix) + language, directory))
                return true;
        }
    }
    return false;
}
