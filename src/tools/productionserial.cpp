#include "productionserial.h"

#include "bootloaderprotocol.h"

namespace {

constexpr int DecimalBase = 10;
constexpr int YearsInCentury = 100;
// The two year digits count from this year.
constexpr int CenturyStart = 2000;

struct FieldRange {
    int digits;
    int first;
    int last;
};

constexpr FieldRange Ranges[ProductionSerial::FieldCount] = {
    {2, 0, 99},
    {2, 1, 12},
    {2, 1, 31},
    {3, ProductionSerial::FirstNumber, 999},
};

constexpr int serialDigits()
{
    int digits = 0;
    for (const FieldRange &range : Ranges)
        digits += range.digits;
    return digits;
}

static_assert(serialDigits() == Bootloader::SerialDigits);

QString itemText(const FieldRange &range, int value)
{
    return QStringLiteral("%1").arg(value, range.digits, DecimalBase, QLatin1Char('0'));
}

} // namespace

QStringList ProductionSerial::items(Field field)
{
    const FieldRange &range = Ranges[field];
    QStringList list;
    for (int value = range.first; value <= range.last; ++value)
        list << itemText(range, value);
    return list;
}

int ProductionSerial::preselectedIndex(Field field, const QDate &date)
{
    int value = FirstNumber;
    switch (field) {
    case Year:
        value = date.year() % YearsInCentury;
        break;
    case Month:
        value = date.month();
        break;
    case Day:
        value = date.day();
        break;
    case Number:
        break;
    }
    return value - Ranges[field].first;
}

QString ProductionSerial::preselected(const QDate &date)
{
    QString serial;
    for (int field = Year; field <= Number; ++field)
        serial += items(Field(field)).at(preselectedIndex(Field(field), date));
    return serial;
}

bool ProductionSerial::isValid(const QString &text)
{
    if (text.size() != Bootloader::SerialDigits)
        return false;
    int at = 0;
    int values[FieldCount] = {};
    for (int field = Year; field <= Number; ++field) {
        const FieldRange &range = Ranges[field];
        const QString part = text.mid(at, range.digits);
        at += range.digits;
        int value = 0;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            value = value * DecimalBase + (c.unicode() - u'0');
        }
        if (value < range.first || value > range.last)
            return false;
        values[field] = value;
    }
    return QDate(CenturyStart + values[Year], values[Month], values[Day]).isValid();
}
