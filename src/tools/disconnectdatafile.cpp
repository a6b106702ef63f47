#include "disconnectdatafile.h"

#include <QFile>

#include <array>
#include <cstdlib>

namespace {

constexpr char Separator = ',';
constexpr char End = ';';

} // namespace

QList<DisconnectDataFile::Draw> DisconnectDataFile::drawPermutation()
{
    QList<Draw> draws;
    draws.reserve(ValueCount);
    std::array<bool, ValueCount> drawn{};
    while (draws.size() < ValueCount) {
        const int raw = std::rand();
        const int offset = raw % ValueCount;
        if (drawn[size_t(offset)])
            continue;
        drawn[size_t(offset)] = true;
        draws.append({raw, offset + LowestValue});
    }
    return draws;
}

QByteArray DisconnectDataFile::contents(const QList<Draw> &draws)
{
    QByteArray text;
    for (const Draw &draw : draws)
        text += QByteArray::number(draw.value) + Separator;
    return text + End;
}

QString DisconnectDataFile::logLine(const Draw &draw)
{
    return QStringLiteral("%1 -> %2").arg(draw.raw).arg(draw.value);
}

bool DisconnectDataFile::write(const QString &fileName, const QList<Draw> &draws)
{
    QFile file(fileName);
    const QByteArray text = contents(draws);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}
