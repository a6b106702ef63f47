#ifndef TQ470_PRODUCTIONSERIAL_H
#define TQ470_PRODUCTIONSERIAL_H

#include <QDate>
#include <QString>
#include <QStringList>

// The nine-digit production serial YYMMDDNNN that the bootloader image carries: production
// year, month and day and a production number, each chosen from a fixed list of zero-padded
// numbers. The day list offers 01 to 31 whatever the month, and there is no number 000.
class ProductionSerial
{
public:
    enum Field { Year, Month, Day, Number };
    static constexpr int FieldCount = 4;
    static constexpr int FirstNumber = 1;

    // The items offered for a field, in order.
    static QStringList items(Field field);

    // The index in items(field) of the item preselected on date: the year of the century, the
    // month, the day of the month, and always the first production number.
    static int preselectedIndex(Field field, const QDate &date);

    // The serial made of the four preselected items.
    static QString preselected(const QDate &date);

    // Whether text is nine digits whose four parts are items of their lists and whose year,
    // month and day make a date that exists (years 2000 to 2099).
    static bool isValid(const QString &text);
};

#endif
