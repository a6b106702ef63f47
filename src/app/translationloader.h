#ifndef TQ470_TRANSLATIONLOADER_H
#define TQ470_TRANSLATIONLOADER_H

#include <QStringList>

class QLocale;
class QTranslator;

// Finds the window's translation: "tq470_" followed by the locale's name in each directory in
// turn, and only when no directory has it, "tq470_en" in the same order. QTranslator also tries
// each name cut back at its underscores, so that tq470_pl serves pl_PL. A stray English file in
// the working directory thus never hides the locale's translation installed elsewhere.
class TranslationLoader
{
public:
    explicit TranslationLoader(const QStringList &directories) : directories(directories) {}

    // The working directory, the program's own (in the build tree the translations are built
    // beside the window) and the installed data directory, found from the program's so that
    // an installed tree keeps working when moved.
    static QStringList standardDirectories();

    // False when no file was found: the translator stays empty and the source texts show.
    bool load(QTranslator *translator, const QLocale &locale) const;

private:
    QStringList directories;
};

#endif
