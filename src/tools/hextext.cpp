#include "hextext.h"

namespace {

constexpr int HexBase = 16;

} // namespace

quint32 HexText::toValue(const QString &text, bool *ok)
{
    return text.toUInt(ok, HexBase);
}

QString HexText::proposal(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, HexBase);
}
