#include "hexdump.h"

namespace {

constexpr int BytesPerLine = 16;
constexpr uchar FirstPrintable = 0x20;
constexpr uchar LastPrintable = 0x7F;

char shown(uchar byte)
{
    return byte >= FirstPrintable && byte <= LastPrintable ? char(byte) : '.';
}

void appendLine(QByteArray &dump, const uchar *bytes, int offset, int count)
{
    dump += QByteArray("\n0x") + QByteArray::number(offset, 16).rightJustified(4, '0') + ':';
    for (int i = 0; i < count; ++i)
        dump += ' ' + QByteArray::number(bytes[i], 16).rightJustified(2, '0');
    dump += QByteArray(3 * (BytesPerLine - count), ' ');
    dump += " < ";
    for (int i = 0; i < count; ++i)
        dump += shown(bytes[i]);
    dump += QByteArray(BytesPerLine - count, ' ');
    dump += " >";
}

} // namespace

QByteArray HexDump(const char *data, int length)
{
    QByteArray dump = "\n src address: 0x" +
                      QByteArray::number(qulonglong(quintptr(data)), 16).rightJustified(8, '0');
    constexpr int LineLength = 6 + 1 + 3 * BytesPerLine + 3 + BytesPerLine + 2;
    dump.reserve(dump.size() + (length / BytesPerLine + 1) * LineLength);
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    for (int offset = 0; offset < length; offset += BytesPerLine)
        appendLine(dump, bytes + offset, offset, qMin(BytesPerLine, length - offset));
    return dump;
}
