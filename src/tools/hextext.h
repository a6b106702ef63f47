#ifndef TQ470_HEXTEXT_H
#define TQ470_HEXTEXT_H

#include <QString>

// Hexadecimal numbers as the service commands take them from the user and propose them back.
class HexText
{
public:
    // Base-16 text as QString::toUInt reads it: an optional 0x or 0X, blanks around the digits
    // allowed, at most 0xFFFFFFFF. A text that does not convert yields 0 and *ok false.
    static quint32 toValue(const QString &text, bool *ok);

    // "0x" and the value in lower-case hexadecimal without leading zeros: 0x8000000, 0x0.
    static QString proposal(quint32 value);
};

#endif
